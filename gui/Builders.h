#pragma once
#include <QAbstractButton>
#include <QBoxLayout>
#include <QColor>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMargins>
#include <QObject>
#include <QPainter>
#include <QSize>
#include <QString>
#include <functional>
#include <initializer_list>
#include <string>

#include "gui/Commands.h"
#include "platform/Outlets.h"

class QAbstractItemView;

namespace vaultry {
class NotificationCenter;
}

namespace vaultry::qt {

class QtUi;
class SkinButton;
class SkinWindow;
class ImageView;
class PRClosedButton;

// The small builders every window shares.
QString localized(const char* s);
QIcon named(const char* name);
QLabel* heading(const QString& text, const char* role = "title");
QLabel* warning(const QString& text);
QLineEdit* secureField(const QString& placeholder);
// A banner across the top of a skinned window with its title and the window's close button.
QWidget* banner(ImageView* view, const QString& title, const QString& subtitle, PRClosedButton* close);
void faceButton(SkinButton* b, const char* image, const QString& title, QSize size,
                QColor titleColour = Qt::white);
QFrame* card();
// A label showing a named image, square, at the screen's pixel density.
QLabel* picture(const char* image, int side);
// A page's title over its subtitle.
void titles(QBoxLayout* into, const QString& title, const QString& subtitle);

// Tables and browsers say what will appear in them while they are empty.
template <typename View>
class WithEmptyHint final : public View {
public:
    explicit WithEmptyHint(QString hint) : hint_(std::move(hint)) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        View::paintEvent(event);
        if (this->model() && this->model()->rowCount() > 0) return;
        QPainter p(this->viewport());
        p.setPen(QColor("#94a3b8"));
        p.drawText(this->viewport()->rect().adjusted(24, 0, -24, 0), Qt::AlignCenter | Qt::TextWordWrap,
                   hint_);
    }

private:
    QString hint_;
};

// Hands an object's events to a function before the object sees them; the function returns true
// for those it took.
class EventHook final : public QObject {
public:
    EventHook(QObject* target, std::function<bool(QEvent*)> handle)
        : QObject(target), handle_(std::move(handle)) {
        target->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override { return handle_(event); }

private:
    std::function<bool(QEvent*)> handle_;
};
// Hands the target's key presses to a function first; it returns true for those it took.
void onKeyPress(QObject* target, std::function<bool(QKeyEvent*)> handle);
// Calls a function each time the target gets an event of the type; the event goes on.
void onEvent(QObject* target, QEvent::Type type, std::function<void()> call);

// True on a Wayland session, where a window knows neither its own place on the screen nor anyone
// else's: the compositor places windows, and popups relative to their parent window.
bool onWayland();

// What every window needs while it builds itself: the Ui adapter to register its outlets with,
// the notification centre its skin buttons post to, and the commands its controls run.
struct WindowContext {
    QtUi& ui;
    NotificationCenter& nc;
    Commands& commands;
    // Called with each top-level window as it is registered.
    std::function<void(const std::string& name, QWidget* window)> topLevel;
};

// The base of every window and page: registers outlets and connects controls to commands. Each
// window wires its own controls in its constructor.
class WindowPart : public QObject {
public:
    explicit WindowPart(WindowContext& context)
        : ui_(context.ui), nc_(context.nc), commands_(context.commands), context_(context) {}

protected:
    void reg(const std::string& name, QObject* object);
    void run(Commands::Fn Commands::*command);
    // A push button that runs a command; an icon-only button gets the title as its tooltip.
    QAbstractButton* commandButton(const QString& title, const QString& image,
                                   Commands::Fn Commands::*command, bool primary = false);
    // A frameless window with a banner (title, subtitle and its close button) over a body; the
    // body's layout is returned with the window.
    struct Panel {
        SkinWindow* window;
        QVBoxLayout* body;
    };
    Panel bannerWindow(const char* outlet, const QString& windowTitle, QSize size, ImageView* view,
                       const QString& title, const QString& subtitle, const char* closeOutlet,
                       QMargins margins);
    // A plain top-level window of a fixed size; returns the layout of its content.
    QVBoxLayout* plainWindow(const char* outlet, const QString& windowTitle, QSize size, QMargins margins,
                             int spacing = -1);
    // A card on a page: an icon, a title, a line of text and a button that runs a command.
    struct Tile {
        const char* title;
        const char* body;
        const char* icon;
        Commands::Fn Commands::*command;
        const char* button;
        bool primary;
    };
    QHBoxLayout* tiles(std::initializer_list<Tile> tiles);
    // A new password typed twice, with the warning shown while the two differ. Under the first
    // field a meter tells, as the user types, how hard the password is to guess: a bar and a line
    // of text, both hidden while the field is empty. It never stands in the way of a choice.
    struct Twice {
        QLineEdit* first;
        QLineEdit* second;
    };
    struct Meter {
        const char* bar;
        const char* verdict;
    };
    Twice passwordTwice(QVBoxLayout* into, const char* firstOutlet, const QString& firstPlaceholder,
                        Meter meter, const char* secondOutlet, const QString& secondPlaceholder,
                        const char* warnOutlet, const QString& warnText);
    // The row of skin buttons that pick a kind of tidied item: all items, pictures, documents,
    // archives, folders and others, in this order, each under its outlet with its image.
    using Kinds = const char* const (&)[6];
    void kindButtons(QHBoxLayout* row, Kinds outlets, Kinds images, const std::function<SkinButton*()>& make,
                     int iconSide, int side);
    // The commands on a view's items: its context menu (Open, Show in Folder, Copy, Restore to
    // Desktop, Delete) and its keys: Enter opens, Delete deletes (asking first), Ctrl+C copies,
    // through copyKey when given, else through the menu's Copy.
    struct ItemCommands {
        Commands::Fn Commands::*open;
        Commands::Fn Commands::*reveal;
        Commands::Fn Commands::*copy;
        Commands::Fn Commands::*restore;
        Commands::Fn Commands::*remove;
        Commands::Fn Commands::*copyKey = nullptr;
    };
    void itemCommands(QAbstractItemView* view, const ItemCommands& commands);
    // Registers a control and runs a command whenever it sends the signal.
    template <typename Control, typename Signal>
    Control* wired(Control* control, const char* outlet, Signal signal, Commands::Fn Commands::*command) {
        reg(outlet, control);
        connect(control, signal, this, [this, command] { run(command); });
        return control;
    }

    QtUi& ui_;
    NotificationCenter& nc_;
    Commands& commands_;

private:
    // The meter under a new password's field, as a column for passwordTwice to place.
    QVBoxLayout* strengthMeter(QLineEdit* field, Meter meter);
    // Titles, sizes and registers a top-level window; returns the layout of its content.
    QVBoxLayout* windowFrame(QWidget* window, const char* outlet, const QString& windowTitle, QSize size,
                             QMargins margins);

    WindowContext& context_;
};

// A part that builds a widget for a window to place: a page of the main window, or the popover's
// content.
class PagePart : public WindowPart {
public:
    using WindowPart::WindowPart;
    QWidget* widget() const { return page_; }

protected:
    // Starts the page as a column with a main-window page's margins, headed by its title and
    // subtitle when given; returns the column's layout.
    QVBoxLayout* column(int spacing, const QString& title = {}, const QString& subtitle = {});

    QWidget* page_ = nullptr;
};

// A window or page that its constructor builds whole; afterwards it is reached through its
// outlets alone (and a page through its widget). The parts are told apart by a tag; each has its
// constructor in the file of its name.
template <typename Tag, typename Kind = WindowPart>
class Part final : public Kind {
public:
    explicit Part(WindowContext& context);
};

using VaultPage = Part<struct VaultPageTag, PagePart>;
using DesktopPage = Part<struct DesktopPageTag, PagePart>;
using TrashPage = Part<struct TrashPageTag, PagePart>;
using CookiePage = Part<struct CookiePageTag, PagePart>;
using PopoverContent = Part<struct PopoverContentTag, PagePart>;
using AboutWindow = Part<struct AboutWindowTag>;
using AccessWindow = Part<struct AccessWindowTag>;
using UpdateWindow = Part<struct UpdateWindowTag>;
using NoUpdateWindow = Part<struct NoUpdateWindowTag>;
using CreatePasswordWindow = Part<struct CreatePasswordWindowTag>;
using EnterPasswordWindow = Part<struct EnterPasswordWindowTag>;
using PreferencesWindow = Part<struct PreferencesWindowTag>;

template <>
VaultPage::Part(WindowContext& context);
template <>
DesktopPage::Part(WindowContext& context);
template <>
TrashPage::Part(WindowContext& context);
template <>
CookiePage::Part(WindowContext& context);
template <>
PopoverContent::Part(WindowContext& context);
template <>
AboutWindow::Part(WindowContext& context);
template <>
AccessWindow::Part(WindowContext& context);
template <>
UpdateWindow::Part(WindowContext& context);
template <>
NoUpdateWindow::Part(WindowContext& context);
template <>
CreatePasswordWindow::Part(WindowContext& context);
template <>
EnterPasswordWindow::Part(WindowContext& context);
template <>
PreferencesWindow::Part(WindowContext& context);

}  // namespace vaultry::qt

#pragma once
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
#include <string>

#include "gui/Commands.h"

class QAbstractButton;
class QVBoxLayout;

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

// Hands a widget's key presses to a function first; it returns true for those it took.
class KeyHandler final : public QObject {
public:
    KeyHandler(QObject* parent, std::function<bool(QKeyEvent*)> handle)
        : QObject(parent), handle_(std::move(handle)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        return event->type() == QEvent::KeyPress && handle_(static_cast<QKeyEvent*>(event));
    }

private:
    std::function<bool(QKeyEvent*)> handle_;
};

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

    QtUi& ui_;
    NotificationCenter& nc_;
    Commands& commands_;

private:
    WindowContext& context_;
};

}  // namespace vaultry::qt

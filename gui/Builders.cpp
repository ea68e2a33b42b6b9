#include "gui/Builders.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/QtUi.h"
#include "gui/SkinWidgets.h"
#include "vault/PasswordStrength.h"
#include "vault/PasswordVerifier.h"

namespace vaultry::qt {

QString localized(const char* s) { return QCoreApplication::translate("Vaultry", s); }

QIcon named(const char* name) { return iconFor(platform::ImageRef::named(name)); }

QLabel* heading(const QString& text, const char* role) {
    auto* l = new QLabel(text);
    l->setProperty("role", role);
    l->setWordWrap(true);
    return l;
}

QLabel* warning(const QString& text) {
    auto* l = new QLabel(text);
    l->setProperty("role", "warning");
    l->setWordWrap(true);
    return l;
}

QLineEdit* secureField(const QString& placeholder) {
    auto* e = new QLineEdit;
    e->setEchoMode(QLineEdit::Password);
    e->setPlaceholderText(placeholder);
    e->setMinimumHeight(34);
    return e;
}

// A banner across the top of a skinned window with its title and the window's close button.
QWidget* banner(ImageView* view, const QString& title, const QString& subtitle, PRClosedButton* close) {
    view->setFixedHeight(76);
    view->setTitle(title, subtitle);
    auto* row = new QHBoxLayout(view);
    row->setContentsMargins(0, 10, 12, 0);
    row->addStretch(1);
    if (close) {
        close->setIcon(named("Close_Nom.png"));
        close->setIconSize(QSize(22, 22));
        close->setFixedSize(26, 26);
        close->setToolTip(localized("Close"));
        close->setAccessibleName(localized("Close"));
        close->setProperty("closeButton", true);
        row->addWidget(close, 0, Qt::AlignTop);
    }
    return view;
}

void faceButton(SkinButton* b, const char* image, const QString& title, QSize size, QColor titleColour) {
    b->setIcon(named(image));
    b->setText(title);
    b->setFace(true, titleColour, QString::fromLatin1(image));
    b->setFixedSize(size);
}

QFrame* card() {
    auto* f = new QFrame;
    f->setProperty("role", "card");
    return f;
}

void onKeyPress(QObject* target, std::function<bool(QKeyEvent*)> handle) {
    new EventHook(target, [handle = std::move(handle)](QEvent* event) {
        return event->type() == QEvent::KeyPress && handle(static_cast<QKeyEvent*>(event));
    });
}

void onEvent(QObject* target, QEvent::Type type, std::function<void()> call) {
    new EventHook(target, [type, call = std::move(call)](QEvent* event) {
        if (event->type() == type && call) call();
        return false;
    });
}

bool onWayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

QLabel* picture(const char* image, int side) {
    auto* l = new QLabel;
    l->setPixmap(named(image).pixmap(QSize(side, side), l->devicePixelRatioF()));
    return l;
}

void titles(QBoxLayout* into, const QString& title, const QString& subtitle) {
    into->addWidget(heading(title));
    into->addWidget(heading(subtitle, "subtitle"));
}

void WindowPart::run(Commands::Fn Commands::*command) {
    if (const auto& fn = commands_.*command) fn();
}

void WindowPart::itemCommands(QAbstractItemView* view, const ItemCommands& c) {
    const auto action = [this, view](const char* title, Commands::Fn Commands::*command,
                                     QList<QKeySequence> keys) {
        auto* a = new QAction(localized(title), view);
        a->setShortcuts(keys);
        a->setShortcutContext(Qt::WidgetShortcut);
        connect(a, &QAction::triggered, this, [this, command] { run(command); });
        view->addAction(a);
        return a;
    };
    const QList<QKeySequence> copyKeys = QKeySequence::keyBindings(QKeySequence::Copy);
    QList<QAction*> menu{action("Open", c.open, {Qt::Key_Return, Qt::Key_Enter}),
                         action("Show in Folder", c.reveal, {}),
                         action("Copy", c.copy, c.copyKey ? QList<QKeySequence>{} : copyKeys),
                         action("Restore to Desktop", c.restore, {}),
                         action("Delete", c.remove, QKeySequence::keyBindings(QKeySequence::Delete))};
    if (c.copyKey) action("Copy", c.copyKey, copyKeys);
    // The menu is about the item under the pointer, which a right click has made the selection.
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, view, [view, menu](QPoint at) {
        if (!view->indexAt(at).isValid()) return;
        auto* popup = new QMenu(view);
        popup->setAttribute(Qt::WA_DeleteOnClose);
        popup->addActions(menu);
        popup->popup(view->viewport()->mapToGlobal(at));
    });
}

void WindowPart::reg(const std::string& name, QObject* object) {
    object->setObjectName(QString::fromStdString(name));
    // A control without words is named for assistive technology by its tooltip.
    if (auto* w = qobject_cast<QWidget*>(object);
        w && w->accessibleName().isEmpty() && !w->toolTip().isEmpty())
        w->setAccessibleName(w->toolTip());
    ui_.registerOutlet(name, object);
    if (auto* w = qobject_cast<QWidget*>(object); w && w->isWindow()) {
        if (context_.topLevel) context_.topLevel(name, w);
        // Escape closes every window but the main one, the way the system's close does.
        if (!qobject_cast<QMainWindow*>(w)) {
            onKeyPress(w, [w](QKeyEvent* key) {
                if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier) return false;
                w->close();
                return true;
            });
        }
    }
}

QAbstractButton* WindowPart::commandButton(const QString& title, const QString& image,
                                           Commands::Fn Commands::*command, bool primary) {
    auto* b = new QPushButton(title);
    if (!image.isEmpty() && !primary) {  // the glyphs are drawn for light grounds
        b->setIcon(named(image.toUtf8().constData()));
        b->setIconSize(QSize(18, 18));
    }
    b->setProperty("primary", primary);
    b->setCursor(Qt::PointingHandCursor);
    b->setMinimumHeight(34);
    connect(b, &QPushButton::clicked, this, [this, command] {
        if (const auto& fn = commands_.*command) fn();
    });
    return b;
}

WindowPart::Panel WindowPart::bannerWindow(const char* outlet, const QString& windowTitle, QSize size,
                                           ImageView* view, const QString& title, const QString& subtitle,
                                           const char* closeOutlet, QMargins margins) {
    auto* w = new SkinWindow;
    auto* v = windowFrame(w, outlet, windowTitle, size, QMargins(1, 1, 1, 1));
    v->setSpacing(0);
    auto* close = new PRClosedButton(nc_);
    reg(closeOutlet, close);
    v->addWidget(banner(view, title, subtitle, close));
    auto* body = new QWidget;
    auto* bv = new QVBoxLayout(body);
    bv->setContentsMargins(margins);
    bv->setSpacing(10);
    v->addWidget(body, 1);
    return {w, bv};
}

QVBoxLayout* WindowPart::windowFrame(QWidget* w, const char* outlet, const QString& windowTitle, QSize size,
                                     QMargins margins) {
    w->setWindowTitle(windowTitle);
    w->setFixedSize(size);
    reg(outlet, w);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(margins);
    return v;
}

QVBoxLayout* WindowPart::plainWindow(const char* outlet, const QString& windowTitle, QSize size,
                                     QMargins margins, int spacing) {
    auto* v = windowFrame(new QWidget(nullptr, Qt::Window), outlet, windowTitle, size, margins);
    if (spacing >= 0) v->setSpacing(spacing);
    return v;
}

QVBoxLayout* PagePart::column(int spacing, const QString& title, const QString& subtitle) {
    page_ = new QWidget;
    auto* v = new QVBoxLayout(page_);
    v->setContentsMargins(36, 32, 36, 28);
    v->setSpacing(spacing);
    if (!title.isEmpty()) titles(v, title, subtitle);
    return v;
}

QHBoxLayout* WindowPart::tiles(std::initializer_list<Tile> tiles) {
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    for (const auto& t : tiles) {
        auto* c = card();
        auto* cv = new QVBoxLayout(c);
        cv->setContentsMargins(18, 18, 18, 18);
        cv->addWidget(picture(t.icon, 26));
        cv->addWidget(heading(localized(t.title), "cardtitle"));
        cv->addWidget(heading(localized(t.body), "body"));
        cv->addStretch(1);
        cv->addWidget(commandButton(localized(t.button), {}, t.command, t.primary));
        row->addWidget(c, 1);
    }
    return row;
}

WindowPart::Twice WindowPart::passwordTwice(QVBoxLayout* into, const char* firstOutlet,
                                            const QString& firstPlaceholder, Meter meter,
                                            const char* secondOutlet, const QString& secondPlaceholder,
                                            const char* warnOutlet, const QString& warnText) {
    auto* first = secureField(firstPlaceholder);
    reg(firstOutlet, first);
    auto* second = secureField(secondPlaceholder);
    reg(secondOutlet, second);
    into->addWidget(first);
    into->addLayout(strengthMeter(first, meter));
    into->addWidget(second);
    auto* warn = warning(warnText);
    reg(warnOutlet, warn);
    into->addWidget(warn);
    return {first, second};
}

QVBoxLayout* WindowPart::strengthMeter(QLineEdit* field, Meter meter) {
    auto* bar = new QProgressBar;
    bar->setRange(0, static_cast<int>(password::Strength::VeryStrong) + 1);
    bar->setTextVisible(false);
    bar->setProperty("role", "strength");
    reg(meter.bar, bar);
    auto* verdict = new QLabel;
    verdict->setProperty("role", "faint");
    verdict->setWordWrap(true);
    reg(meter.verdict, verdict);
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    for (QWidget* w : {static_cast<QWidget*>(bar), static_cast<QWidget*>(verdict)}) {
        // The fields below stay where they are while the meter comes and goes.
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
        w->hide();
        column->addWidget(w);
    }
    connect(field, &QLineEdit::textChanged, bar, [bar, verdict](const QString& text) {
        bar->setHidden(text.isEmpty());
        verdict->setHidden(text.isEmpty());
        if (text.isEmpty()) {
            bar->setValue(0);
            verdict->clear();
            return;
        }
        // The one copy of the password made here is wiped as soon as it is rated.
        QByteArray typed = text.toUtf8();
        const auto rated = password::rate(std::string_view(typed.constData(), typed.size()));
        password::wipe(typed.data(), typed.size());
        const int level = static_cast<int>(rated.level);
        bar->setValue(level + 1);
        bar->setProperty("level", level);
        bar->style()->unpolish(bar);
        bar->style()->polish(bar);
        verdict->setText(QString::fromStdString(rated.text));
    });
    return column;
}

void WindowPart::kindButtons(QHBoxLayout* row, Kinds outlets, Kinds images,
                             const std::function<SkinButton*()>& make, int iconSide, int side) {
    static const char* const tips[] = {"All items", "Pictures", "Documents", "Archives", "Folders", "Others"};
    for (std::size_t i = 0; i < std::size(tips); ++i) {
        auto* b = make();
        b->setIconSize(QSize(iconSide, iconSide));
        b->setFixedSize(side, side);
        b->setToolTip(localized(tips[i]));
        reg(outlets[i], b);
        ui_.setImage(outlets[i], images[i]);
        row->addWidget(b);
    }
}

}  // namespace vaultry::qt

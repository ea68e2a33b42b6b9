#include "gui/Builders.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMainWindow>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "gui/QtUi.h"
#include "gui/SkinWidgets.h"

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

void WindowPart::run(Commands::Fn Commands::*command) {
    if (const auto& fn = commands_.*command) fn();
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
            w->installEventFilter(new KeyHandler(w, [w](QKeyEvent* key) {
                if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier) return false;
                w->close();
                return true;
            }));
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
    w->setWindowTitle(windowTitle);
    w->setFixedSize(size);
    reg(outlet, w);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(1, 1, 1, 1);
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

}  // namespace vaultry::qt

#include "gui/StatusBanner.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include "gui/AppWindows.h"
#include "gui/QtUi.h"

namespace vaultry::qt {
namespace {

// Tells its owner when the popup it watches has closed, whatever closed it.
class CloseWatcher final : public QObject {
public:
    CloseWatcher(QObject* parent, std::function<void()> closed)
        : QObject(parent), closed_(std::move(closed)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Hide && closed_) closed_();
        return false;
    }

private:
    std::function<void()> closed_;
};

}  // namespace

StatusBanner::StatusBanner(QtUi& ui, AppWindows& windows, Commands& commands)
    : ui_(ui), windows_(windows), commands_(commands) {
    statusItem_ = new QSystemTrayIcon(this);
    statusItem_->setToolTip("Vaultry");
    baMenu_ = new QMenu;
    const auto add = [this](const char* title, Commands::Fn Commands::*command) {
        QAction* a = baMenu_->addAction(localized(title));
        connect(a, &QAction::triggered, this, [this, command] {
            if (const auto& fn = commands_.*command) fn();
        });
        return a;
    };
    add("Open Vault…", &Commands::openVault);
    add("Preferences…", &Commands::preferences);
    baMenu_->addSeparator();
    add("Hide Items…", &Commands::hideFiles);
    add("Encrypt Items…", &Commands::encryptFiles);
    add("Tidy Desktop Now", &Commands::tidyDesktop);
    add("Undo Last Tidy", &Commands::undoTidy);
    baMenu_->addSeparator();
    add("Empty Trash…", &Commands::emptyTrash);
    add("Secure Erase…", &Commands::secureErase);
    add("Automatic Trash…", &Commands::automaticTrash);
    baMenu_->addSeparator();
    add("Check for Update…", &Commands::checkForUpdate);
    add("Help", &Commands::help);
    add("About Vaultry", &Commands::about);
    baMenu_->addSeparator();
    add("Quit Vaultry", &Commands::quit);
    statusItem_->setContextMenu(baMenu_);
    connect(statusItem_, &QSystemTrayIcon::activated, this, &StatusBanner::activated);
    ui_.registerOutlet("_statusItem", statusItem_);
    ui_.registerOutlet("baMenu", baMenu_);
    statusItem_->setIcon(
        iconFor(platform::ImageRef::named(ui_.darkAppearance() ? "darkbannerIcon.png" : "bannerIcon.png")));
    if (hasTrayHost()) statusItem_->show();
}

StatusBanner::~StatusBanner() {
    windows_.returnPopoverContent();  // the shared view outlives the popover and its window
    if (thePopover_) delete thePopover_.data();
    if (popAttachWindow_) delete popAttachWindow_.data();
    delete baMenu_;
}

bool StatusBanner::hasTrayHost() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void StatusBanner::activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) ClickStateBanner();
}

QRect StatusBanner::anchorRect(QWidget* anchor) const {
    if (anchor) return QRect(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    const QRect icon = statusItem_->geometry();
    if (icon.isValid() && !icon.isEmpty()) return icon;
    return QRect(QCursor::pos(), QSize(1, 1));
}

void StatusBanner::ClickStateBanner(QWidget* anchor) {
    if (thePopover_) {
        thePopover_->close();
        return;
    }
    if (popAttachWindow_) {
        popAttachWindow_->raise();
        popAttachWindow_->activateWindow();
        return;
    }
    auto* pop = new QFrame(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    pop->setObjectName("thePopover");
    pop->setAttribute(Qt::WA_DeleteOnClose);
    pop->setStyleSheet(
        "QFrame#thePopover { background: #ffffff; border: 1px solid #cbd5e1; border-radius: 0; }");
    auto* v = new QVBoxLayout(pop);
    v->setContentsMargins(1, 1, 1, 1);
    v->setSpacing(0);
    auto* head = new QHBoxLayout;
    head->setContentsMargins(14, 10, 8, 0);
    auto* title = new QLabel("Vaultry");
    title->setStyleSheet("font-weight: 700; font-size: 11pt;");
    head->addWidget(title, 1);
    auto* detach = new QToolButton;
    detach->setText("⇱");
    detach->setToolTip(localized("Open in a window"));
    detach->setAccessibleName(localized("Open in a window"));
    detach->setAutoRaise(true);
    connect(detach, &QToolButton::clicked, this, [this] { detachableWindowForPopover(); });
    head->addWidget(detach);
    auto* menu = new QToolButton;
    menu->setIcon(iconFor(platform::ImageRef::named("NSActionTemplate")));
    menu->setToolTip(localized("Commands"));
    menu->setAccessibleName(localized("Commands"));
    menu->setAutoRaise(true);
    menu->setPopupMode(QToolButton::InstantPopup);
    menu->setMenu(baMenu_);
    head->addWidget(menu);
    v->addLayout(head);
    QWidget* content = windows_.popoverContent();
    v->addWidget(content, 1);
    content->show();
    pop->installEventFilter(new CloseWatcher(pop, [this] { popoverDidClose(); }));
    thePopover_ = pop;
    ui_.registerOutlet("thePopover", pop);

    // Below the icon, centred on it, kept on the screen; above it when the icon sits low.
    pop->adjustSize();
    const QRect a = anchorRect(anchor);
    const QScreen* screen = QGuiApplication::screenAt(a.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    QPoint at(a.center().x() - pop->width() / 2, a.bottom() + 4);
    if (at.y() + pop->height() > area.bottom()) at.setY(a.top() - pop->height() - 4);
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - pop->width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - pop->height())));
    pop->move(at);
    pop->show();
}

// The popover is gone: its content goes back to the automatic-trash window and the next press
// builds a new popover.
void StatusBanner::popoverDidClose() {
    QWidget* pop = thePopover_;
    thePopover_.clear();
    if (!pop) return;
    if (windows_.popoverContent()->window() == pop) windows_.returnPopoverContent();
    pop->deleteLater();
}

QWidget* StatusBanner::detachableWindowForPopover() {
    if (!popAttachWindow_) {
        auto* w = new QWidget(nullptr, Qt::Window);
        w->setObjectName("popAttachWindow");
        w->setWindowTitle("Vaultry");
        w->setAttribute(Qt::WA_DeleteOnClose);
        auto* v = new QVBoxLayout(w);
        v->setContentsMargins(0, 0, 0, 0);
        w->installEventFilter(new CloseWatcher(w, [this] {
            if (popAttachWindow_ && windows_.popoverContent()->window() == popAttachWindow_)
                windows_.returnPopoverContent();
        }));
        popAttachWindow_ = w;
        ui_.registerOutlet("popAttachWindow", w);
    }
    const QPoint where = thePopover_ ? thePopover_->pos() : QCursor::pos();
    popAttachWindow_->layout()->addWidget(windows_.popoverContent());
    windows_.popoverContent()->show();
    if (thePopover_) thePopover_->close();
    popAttachWindow_->move(where);
    popAttachWindow_->show();
    popAttachWindow_->raise();
    return popAttachWindow_;
}

}  // namespace vaultry::qt

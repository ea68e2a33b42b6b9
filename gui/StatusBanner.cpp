#include "gui/StatusBanner.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "gui/AppWindows.h"
#include "gui/Builders.h"
#include "gui/QtUi.h"
#include "gui/SingleInstance.h"
#include "gui/StatusNotifierItem.h"
#include "gui/TrayWatch.h"
#include "platform/Outlets.h"
#include "update/VersionCheck.h"

namespace vaultry::qt {

namespace {

// True when `window` is `owner` or one of its dialogs: a child window or one kept above it.
bool belongsTo(const QWidget* window, const QWidget* owner) {
    for (const QWidget* w = window; w; w = w->parentWidget())
        if (w == owner) return true;
    if (!window || !window->windowHandle() || !owner->windowHandle()) return false;
    for (const QWindow* w = window->windowHandle(); w; w = w->transientParent())
        if (w == owner->windowHandle()) return true;
    return false;
}

}  // namespace

QPoint popoverPosition(const QRect& opener, QSize size, const std::optional<QRect>& screen,
                       const QRect& window) {
    QPoint at(opener.center().x() - size.width() / 2, opener.bottom() + 4);
    const QRect area = screen.value_or(window);
    if (area.isEmpty()) return at;
    if (at.y() + size.height() > area.bottom()) {
        if (opener.top() - size.height() - 4 >= area.top()) {
            at.setY(opener.top() - size.height() - 4);
        } else {
            // Room neither below nor above (a short screen, an opener half-way down): beside it,
            // so that it never covers its own button. On the screen, on the right where it fits;
            // in a window, on its wider side.
            const bool right = screen ? opener.right() + 4 + size.width() <= area.right()
                                      : opener.center().x() <= area.center().x();
            at = QPoint(right ? opener.right() + 4 : opener.left() - size.width() - 4,
                        opener.center().y() - size.height() / 2);
        }
    }
    // Without the screen, the compositor keeps the popup on it; sliding along the side it is on,
    // it never comes over the opener.
    if (!screen) return at;
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - size.width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - size.height())));
    return at;
}

StatusBanner::StatusBanner(QtUi& ui, AppWindows& windows, Commands& commands)
    : ui_(ui), windows_(windows), commands_(commands) {
    statusItem_ = new QSystemTrayIcon(this);
    statusItem_->setToolTip("Vaultry");
    baMenu_ = new QMenu;
    // The menu's items in order; an empty title is a separator.
    const std::pair<const char*, Commands::Fn Commands::*> items[] = {
        {"Open Vault…", &Commands::openVault},
        {"Preferences…", &Commands::preferences},
        {nullptr, nullptr},
        {"Hide Items…", &Commands::hideFiles},
        {"Encrypt Items…", &Commands::encryptFiles},
        {"Tidy Desktop Now", &Commands::tidyDesktop},
        {"Undo Last Tidy", &Commands::undoTidy},
        {nullptr, nullptr},
        {"Empty Trash…", &Commands::emptyTrash},
        {"Secure Erase…", &Commands::secureErase},
        {"Automatic Trash…", &Commands::automaticTrash},
        {nullptr, nullptr},
        // A build without a version list says who updates it; the command then explains.
        {updateCheckOffered() ? "Check for Update…" : kUpdateCheckOffTitle, &Commands::checkForUpdate},
        {"Help", &Commands::help},
        {"About Vaultry", &Commands::about},
        {nullptr, nullptr},
        {"Quit Vaultry", &Commands::quit},
    };
    for (const auto& [title, command] : items) {
        if (!title) {
            baMenu_->addSeparator();
            continue;
        }
        connect(baMenu_->addAction(localized(title)), &QAction::triggered, this, [this, command = command] {
            if (const auto& fn = commands_.*command) fn();
        });
    }
    statusItem_->setContextMenu(baMenu_);
    connect(statusItem_, &QSystemTrayIcon::activated, this, &StatusBanner::activated);
    ui_.registerOutlet(outlet::_statusItem, statusItem_);
    ui_.registerOutlet(outlet::baMenu, baMenu_);
    statusItem_->setIcon(trayIconFor(
        platform::ImageRef::named(ui_.darkAppearance() ? "darkbannerIcon.png" : "bannerIcon.png")));
    if (hasTrayHost()) statusItem_->show();
}

StatusBanner::~StatusBanner() {
    windows_.returnPopoverContent();  // the shared view outlives the popover and its window
    if (thePopover_) delete thePopover_.data();
    if (popAttachWindow_) delete popAttachWindow_.data();
    delete baMenu_;
}

bool StatusBanner::hasTrayHost() const { return trayWatch_ && trayWatch_->host() != TrayWatch::Host::None; }

void StatusBanner::activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) ClickStateBanner();
}

std::optional<QRect> StatusBanner::iconRect() const {
    if (onWayland()) return std::nullopt;  // the icon's geometry, if any, is not where it is
    const QRect icon = statusItem_->geometry();
    if (!icon.isValid() || icon.isEmpty()) return std::nullopt;
    return icon;
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
    const std::optional<QRect> icon = anchor ? std::nullopt : iconRect();
    if (!anchor && !icon) {
        detachableWindowForPopover(/*closeWhenLeft=*/true);
        return;
    }
    // A popup of the opener's window: on Wayland it becomes an xdg_popup placed relative to that
    // window, the only placement a compositor honours.
    auto* pop = new QFrame(anchor ? anchor->window() : nullptr, Qt::Popup | Qt::FramelessWindowHint);
    pop->setObjectName(outlet::thePopover);
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
    onEvent(pop, QEvent::Hide, [this] { popoverDidClose(); });  // whatever closed it
    thePopover_ = pop;
    ui_.registerOutlet(outlet::thePopover, pop);

    pop->adjustSize();
    const QRect at = anchor ? QRect(anchor->mapToGlobal(QPoint(0, 0)), anchor->size()) : *icon;
    std::optional<QRect> area;
    if (!onWayland()) {
        const QScreen* screen = QGuiApplication::screenAt(at.center());
        if (!screen) screen = QGuiApplication::primaryScreen();
        area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    }
    const QRect window =
        anchor ? QRect(anchor->window()->mapToGlobal(QPoint(0, 0)), anchor->window()->size()) : QRect();
    pop->move(popoverPosition(at, pop->size(), area, window));
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

QWidget* StatusBanner::detachableWindowForPopover(bool closeWhenLeft) {
    if (!popAttachWindow_) {
        closeWhenLeft_ = closeWhenLeft;
        auto* w = new QWidget(nullptr, Qt::Window);
        w->setObjectName(outlet::popAttachWindow);
        w->setWindowTitle("Vaultry");
        w->setAttribute(Qt::WA_DeleteOnClose);
        auto* v = new QVBoxLayout(w);
        v->setContentsMargins(0, 0, 0, 0);
        onEvent(w, QEvent::Hide, [this] {
            if (popAttachWindow_ && windows_.popoverContent()->window() == popAttachWindow_)
                windows_.returnPopoverContent();
        });
        // Escape closes it, as it closes the other windows: a key press its controls leave alone.
        onKeyPress(w, [w](QKeyEvent* key) {
            if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier) return false;
            w->close();
            return true;
        });
        // Opened in a popover's stead, it goes as a popover would: when another window takes
        // the focus. Not while a dialog or menu of its own has it, and only once the focus has
        // settled, so a dialog about to open does not close the window it belongs to.
        onEvent(w, QEvent::WindowDeactivate, [this, w] {
            QTimer::singleShot(0, w, [this, w] {
                if (closeWhenLeft_ && w->isVisible() && !belongsTo(QApplication::activeWindow(), w) &&
                    !QApplication::activeModalWidget() && !QApplication::activePopupWidget())
                    w->close();
            });
        });
        popAttachWindow_ = w;
        ui_.registerOutlet(outlet::popAttachWindow, w);
    }
    // Where the popover was, on X11; a compositor places a new window itself.
    const std::optional<QPoint> where =
        thePopover_ && !onWayland() ? std::optional<QPoint>(thePopover_->pos()) : std::nullopt;
    popAttachWindow_->layout()->addWidget(windows_.popoverContent());
    windows_.popoverContent()->show();
    if (thePopover_) thePopover_->close();
    if (where) popAttachWindow_->move(*where);
    popAttachWindow_->show();
    popAttachWindow_->raise();
    popAttachWindow_->activateWindow();
    return popAttachWindow_;
}

void StatusBanner::followTray(const QDBusConnection& bus) {
    if (trayWatch_) return;
    trayWatch_ = new TrayWatch(bus, this);
    connect(trayWatch_, &TrayWatch::changed, this, &StatusBanner::showInTray);
}

// One icon at a time: a StatusNotifierItem host is asked first, since an X11 tray on such a
// desktop is often only its stand-in. Qt's own icon stays hidden then, or the host would show two.
void StatusBanner::showInTray() {
    const TrayWatch::Host host = trayWatch_->host();
    if (host == TrayWatch::Host::StatusNotifier) {
        statusItem_->hide();
        if (!notifierItem_) {
            notifierItem_ = new StatusNotifierItem(trayWatch_->bus(), *statusItem_, *baMenu_, this);
            connect(notifierItem_, &StatusNotifierItem::activated, this, [this](const QString& token) {
                const bool withToken =
                    !takeActivationToken({{kActivationTokenKey, token}}, onWayland()).isEmpty();
                ClickStateBanner();
                // One this compositor had no use for must not reach the programs started later.
                if (withToken) qunsetenv("XDG_ACTIVATION_TOKEN");
            });
        }
        // A watcher that took over from another knows no item yet.
        if (notifierWatcher_ != trayWatch_->watcherOwner()) {
            notifierWatcher_ = trayWatch_->watcherOwner();
            notifierItem_->registerWithWatcher();
        }
    } else {
        delete notifierItem_;
        notifierItem_ = nullptr;
        notifierWatcher_.clear();
        statusItem_->setVisible(host == TrayWatch::Host::XEmbed);
    }
    const bool present = host != TrayWatch::Host::None;
    if (trayKnown_ && present == trayPresent_) return;
    trayKnown_ = true;
    trayPresent_ = present;
    emit trayHostChanged(present);
}

}  // namespace vaultry::qt

#pragma once
#include <QFrame>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <optional>

class QDBusConnection;
class QMenu;
class QWidget;

namespace vaultry::qt {

class QtUi;
class AppWindows;
class StatusNotifierItem;
class TrayWatch;
struct Commands;

// Where a popover of `size` opens for the widget at `opener` (global coordinates, from that
// widget's mapToGlobal): below it and centred on it; above it where there is no room below; beside
// it where there is room for neither. With the screen's area known that is where the room is
// measured, and the popover is kept on the screen. Without (Wayland), where the opener stands on
// the screen is unknown: the room is measured in the opener's `window`, and the compositor keeps
// the popup on the screen.
QPoint popoverPosition(const QRect& opener, QSize size, const std::optional<QRect>& screen,
                       const QRect& window = {});

// The tray icon `_statusItem` with its menu `baMenu`, and the popover: a frameless popup by the
// widget or icon that opens it, closes on a click elsewhere, is made afresh for every showing, and
// can be torn off into a window of its own (`popAttachWindow`). Where the icon's place is unknown
// (Wayland, a StatusNotifierItem host) the icon opens the torn-off window instead.
class StatusBanner final : public QObject {
    Q_OBJECT
public:
    StatusBanner(QtUi& ui, AppWindows& windows, Commands& commands);
    ~StatusBanner() override;

    QSystemTrayIcon* statusItem() const { return statusItem_; }
    QMenu* menu() const { return baMenu_; }
    // True when a tray host shows the icon; otherwise the main window offers the menu.
    bool hasTrayHost() const;
    // From now on the icon follows the desktop's tray on `bus`: a StatusNotifierItem where a
    // host shows them, else the X11 tray's icon, and again whenever a tray appears (a panel that
    // starts after Vaultry) or a new one takes over. Until the first look has answered there is
    // no tray host.
    void followTray(const QDBusConnection& bus);
    StatusNotifierItem* notifierItem() const { return notifierItem_; }

    // Shows the popover below `anchor`, a popup of the anchor's window; without an anchor, below
    // the tray icon where its place is known, else as the torn-off window.
    void ClickStateBanner(QWidget* anchor = nullptr);
    void popoverDidClose();
    // Moves the popover's content into a window of its own and closes the popover. Escape closes
    // the window; with `closeWhenLeft` (the window opened where no popover can) so does another
    // window taking the focus.
    QWidget* detachableWindowForPopover(bool closeWhenLeft = false);
    QFrame* popover() const { return qobject_cast<QFrame*>(thePopover_.data()); }
    QWidget* detachedWindow() const { return popAttachWindow_; }

signals:
    // A tray host appeared or went; also once when the first look has answered.
    void trayHostChanged(bool present);

private:
    // The tray icon's area on the screen, when the platform tells it.
    std::optional<QRect> iconRect() const;
    void activated(QSystemTrayIcon::ActivationReason reason);
    void showInTray();

    QtUi& ui_;
    AppWindows& windows_;
    Commands& commands_;
    QSystemTrayIcon* statusItem_;
    QMenu* baMenu_;
    // A QWidget pointer: it is read while the popover is being destroyed, when it is no QFrame.
    QPointer<QWidget> thePopover_;
    QPointer<QWidget> popAttachWindow_;
    TrayWatch* trayWatch_ = nullptr;
    StatusNotifierItem* notifierItem_ = nullptr;
    QString notifierWatcher_;  // the watcher the item registered with
    bool closeWhenLeft_ = false;
    bool trayKnown_ = false;
    bool trayPresent_ = false;
};

}  // namespace vaultry::qt

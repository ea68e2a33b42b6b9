#pragma once
#include <QPointer>
#include <memory>

#include "app/AppDelegate.h"
#include "app/NotificationCenter.h"
#include "gui/AppWindows.h"
#include "gui/BackgroundPortal.h"
#include "gui/Commands.h"
#include "gui/QtDesktop.h"
#include "gui/QtMainThread.h"
#include "gui/QtUi.h"
#include "gui/StatusBanner.h"
#include "gui/Views.h"
#include "platform/linux/DotHiddenFlag.h"
#include "platform/linux/LinuxBookmarks.h"
#include "platform/linux/LinuxHttp.h"
#include "platform/linux/LinuxLoginItems.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSpawn.h"
#include "platform/linux/SystemClock.h"
#include "settings/SettingsStore.h"

class QApplication;
class QDBusConnection;

namespace vaultry::qt {

// Ports a caller may put in place of the desktop's own (the end-to-end tests do, so that nothing
// opens on the desktop and no notification service is needed). Null: the real one.
struct PortChoices {
    platform::Workspace* workspace = nullptr;
    platform::Notifier* notifier = nullptr;
    platform::Http* http = nullptr;
    platform::LoginItems* loginItems = nullptr;
    // Where the tray and the background portal are looked for; null: the session bus.
    const QDBusConnection* bus = nullptr;
};

// The object graph of `vaultry`: the Linux ports, the settings store, every window, the tray
// icon and the application controller, with every command wired. main() runs one; the
// end-to-end tests run the same one on a temporary home.
class Application {
public:
    explicit Application(QApplication& app, PortChoices choices = {});
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The start-up of the application: the controller wakes, the main window shows (unless
    // started hidden, as at login), the launch finishes. Started hidden on a desktop where no tray
    // comes, the user is told once that Vaultry runs in the background.
    void start(bool showMainWindow = true);
    // Ends the workers' waits on the main loop; call after the event loop has ended.
    void shutDown();

    platform::LinuxPaths paths;
    SettingsStore settings{paths.settingsFile()};
    NotificationCenter nc;
    QtUi ui;
    QtMainThread mainThread;
    platform::SystemClock clock;
    platform::LinuxBookmarks bookmarks;
    QtWorkspace workspace;
    platform::DotHiddenFlag hiddenFlag;
    QtThumbnailer thumbnailer;
    platform::LinuxSpawn spawn;
    platform::LinuxHttp http;
    std::unique_ptr<DBusNotifier> notifier;
    platform::LinuxLoginItems loginItems{paths, platform::LinuxLoginItems::guiProgram()};
    Commands commands;
    AppWindows windows{ui, nc, commands};
    StatusBanner banner{ui, windows, commands};
    std::unique_ptr<AppDelegate> delegate;
    BoundViews views;
    std::unique_ptr<BackgroundPortal> portal;

private:
    void trayHostChanged(bool present);
    void mainWindowClosing();

    QPointer<QObject> quitHook_;
    bool quitting_ = false;  // a quit is closing the windows
};

}  // namespace vaultry::qt

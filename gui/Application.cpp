#include "gui/Application.h"

#include <QApplication>
#include <QDBusConnection>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <functional>

#include "gui/Builders.h"

namespace vaultry::qt {
namespace {

// How long a start at login waits for a panel's tray before it says where Vaultry went.
constexpr int kTrayAtLoginMs = 30000;

constexpr char kBackgroundReason[] =
    "Vaultry locks decrypted items again, tidies the desktop and empties the Trash on schedule while "
    "its window is closed.";

}  // namespace

Application::Application(QApplication& app, PortChoices choices) : mainThread(&app) {
    if (!choices.notifier) notifier = std::make_unique<DBusNotifier>();
    platform::Notifier& chosenNotifier = choices.notifier ? *choices.notifier : *notifier;
    // Until a tray shows the icon, the main window carries its commands.
    windows.offerTrayCommands(banner.menu(), [this](QWidget* anchor) { banner.ClickStateBanner(anchor); });
    delegate = std::make_unique<AppDelegate>(Services{
        ui, settings, nc, paths, clock, mainThread, bookmarks,
        choices.workspace ? *choices.workspace : static_cast<platform::Workspace&>(workspace), hiddenFlag,
        thumbnailer, spawn, choices.http ? *choices.http : static_cast<platform::Http&>(http), chosenNotifier,
        choices.loginItems ? *choices.loginItems : static_cast<platform::LoginItems&>(loginItems)});
    views = bindViews(ui, windows, *delegate);
    wireCommands(commands, ui, *delegate);
    // A quit closes every window first; those closes send nothing to the background.
    quitHook_ = new EventHook(&app, [this](QEvent* event) {
        if (event->type() == QEvent::Quit) {
            quitting_ = true;
            // Still here after the quit's turn: a window refused to close, and Vaultry goes on.
            QTimer::singleShot(0, &banner, [this] { quitting_ = false; });
        }
        return false;
    });
    onEvent(windows.mainWindow(), QEvent::Close, [this] { mainWindowClosing(); });
    const QDBusConnection bus = choices.bus ? *choices.bus : QDBusConnection::sessionBus();
    portal = std::make_unique<BackgroundPortal>(bus);
    QObject::connect(&banner, &StatusBanner::trayHostChanged, &banner,
                     [this](bool present) { trayHostChanged(present); });
    banner.followTray(bus);
}

Application::~Application() { delete quitHook_.data(); }

void Application::start(bool showMainWindow) {
    delegate->awakeFromNib();
    if (showMainWindow) windows.mainWindow()->show();
    delegate->applicationDidFinishLaunching();
    if (!showMainWindow)
        QTimer::singleShot(kTrayAtLoginMs, &banner, [this] {
            if (!banner.hasTrayHost() && !windows.mainWindow()->isVisible())
                delegate->tellRunningInBackground();
        });
}

void Application::shutDown() { mainThread.shutDown(); }

// With a tray the icon is the way back to Vaultry; without one, starting Vaultry again is, and the
// main window carries the tray's commands.
void Application::trayHostChanged(bool present) {
    if (present) {
        windows.withdrawTrayCommands();
        return;
    }
    windows.offerTrayCommands(banner.menu(), [this](QWidget* anchor) { banner.ClickStateBanner(anchor); });
    portal->requestBackground(kBackgroundReason);
}

// Closing the main window never ends Vaultry: auto-lock, the automatic tidy and the Trash schedule
// go on. Without a tray nothing on the screen shows that, so the user is told.
void Application::mainWindowClosing() {
    if (quitting_ || banner.hasTrayHost() || !windows.mainWindow()->isVisible()) return;
    delegate->tellRunningInBackground();
}

}  // namespace vaultry::qt

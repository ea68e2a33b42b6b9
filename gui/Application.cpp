#include "gui/Application.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <functional>

#include "gui/Builders.h"

namespace vaultry::qt {

Application::Application(QApplication& app, PortChoices choices) : mainThread(&app) {
    if (!choices.notifier) notifier = std::make_unique<DBusNotifier>();
    platform::Notifier& chosenNotifier = choices.notifier ? *choices.notifier : *notifier;
    if (!banner.hasTrayHost())
        windows.offerTrayCommands(banner.menu(),
                                  [this](QWidget* anchor) { banner.ClickStateBanner(anchor); });
    delegate = std::make_unique<AppDelegate>(Services{
        ui, settings, nc, paths, clock, mainThread, bookmarks,
        choices.workspace ? *choices.workspace : static_cast<platform::Workspace&>(workspace), hiddenFlag,
        thumbnailer, spawn, choices.http ? *choices.http : static_cast<platform::Http&>(http), chosenNotifier,
        choices.loginItems ? *choices.loginItems : static_cast<platform::LoginItems&>(loginItems)});
    views = bindViews(ui, windows, *delegate);
    wireCommands(commands, ui, *delegate);
    // Without a tray icon nothing would be left to reach a running application once the main
    // window closed, so closing it then ends the application.
    if (!banner.hasTrayHost())
        onEvent(windows.mainWindow(), QEvent::Close, [this] {
            if (commands.quit) commands.quit();
        });
}

Application::~Application() = default;

void Application::start(bool showMainWindow) {
    delegate->awakeFromNib();
    if (showMainWindow) windows.mainWindow()->show();
    delegate->applicationDidFinishLaunching();
}

void Application::shutDown() { mainThread.shutDown(); }

}  // namespace vaultry::qt

#include "gui/Application.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <functional>

namespace vaultry::qt {
namespace {

// Without a tray icon nothing would be left to reach a running application once the main window
// closed, so closing it then ends the application.
class QuitOnClose final : public QObject {
public:
    QuitOnClose(QObject* parent, std::function<void()> quit) : QObject(parent), quit_(std::move(quit)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close && quit_) quit_();
        return false;
    }

private:
    std::function<void()> quit_;
};

}  // namespace

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
    if (!banner.hasTrayHost())
        windows.mainWindow()->installEventFilter(new QuitOnClose(windows.mainWindow(), [this] {
            if (commands.quit) commands.quit();
        }));
}

Application::~Application() = default;

void Application::start(bool showMainWindow) {
    delegate->awakeFromNib();
    if (showMainWindow) windows.mainWindow()->show();
    delegate->applicationDidFinishLaunching();
}

void Application::shutDown() { mainThread.shutDown(); }

}  // namespace vaultry::qt

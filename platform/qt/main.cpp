#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <cstdio>
#include <functional>
#include <string_view>

#include "app/AppDelegate.h"
#include "app/NotificationCenter.h"
#include "app/SettingsStore.h"
#include "platform/Version.h"
#include "platform/linux/DotHiddenFlag.h"
#include "platform/linux/LinuxBookmarks.h"
#include "platform/linux/LinuxHttp.h"
#include "platform/linux/LinuxLoginItems.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSpawn.h"
#include "platform/linux/SecretGuard.h"
#include "platform/linux/SystemClock.h"
#include "platform/qt/QtDesktop.h"
#include "platform/qt/QtMainThread.h"
#include "platform/qt/QtUi.h"
#include "platform/qt/SessionLock.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/StatusBanner.h"
#include "platform/qt/Style.h"
#include "platform/qt/Views.h"
#include "platform/qt/Windows.h"

namespace {
using namespace vaultry;

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

int main(int argc, char** argv) {
    vaultry::platform::guardSecrets();
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version" || arg == "-v") {
            std::printf("vaultry %s\n", vaultry::kVersion);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::printf(
                "Usage: vaultry [--hidden] [--version] [--help]\n"
                "\n"
                "  --hidden      start in the tray only, without the main window (the login entry\n"
                "                starts it so); a desktop without a tray shows the window anyway\n"
                "  -v, --version print the version and exit\n"
                "  -h, --help    print this help and exit\n"
                "\n"
                "Vaultry runs once per user: a second start hands its arguments to the running one,\n"
                "which shows its main window, and exits 0.\n");
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Vaultry");
    QApplication::setApplicationVersion(vaultry::kVersion);
    QGuiApplication::setDesktopFileName(qt::kApplicationId);
    const QStringList arguments = QApplication::arguments().mid(1);
    qt::SingleInstance instance;
    switch (instance.claim(arguments)) {
        case qt::SingleInstance::Role::HandedOver:
            return 0;
        case qt::SingleInstance::Role::Unreachable:
            return 1;
        case qt::SingleInstance::Role::First:
            break;
    }
    QApplication::setQuitOnLastWindowClosed(false);  // the tray icon keeps the application alive
    qt::applyStyle();

    platform::LinuxPaths paths;
    SettingsStore settings(paths.settingsFile());
    NotificationCenter nc;
    qt::QtUi ui;
    qt::QtMainThread mainThread(&app);
    platform::SystemClock clock;
    platform::LinuxBookmarks bookmarks;
    qt::QtWorkspace workspace;
    platform::DotHiddenFlag hiddenFlag;
    qt::QtThumbnailer thumbnailer;
    platform::LinuxSpawn spawn;
    platform::LinuxHttp http;
    qt::DBusNotifier notifier;
    platform::LinuxLoginItems loginItems(paths, platform::LinuxLoginItems::guiProgram());

    qt::Commands commands;
    qt::Windows windows(ui, nc, commands);
    qt::StatusBanner banner(ui, windows, commands);
    QObject::connect(&instance, &qt::SingleInstance::activated, &app, [&windows](const QStringList& handed) {
        qt::raiseForAnotherStart(windows.mainWindow(), handed);
    });
    if (!banner.hasTrayHost())
        windows.offerTrayCommands(banner.menu(),
                                  [&banner](QWidget* anchor) { banner.ClickStateBanner(anchor); });
    app.setWindowIcon(qt::iconFor(platform::ImageRef::named("appicon")));

    AppDelegate delegate(Services{ui, settings, nc, paths, clock, mainThread, bookmarks, workspace,
                                  hiddenFlag, thumbnailer, spawn, http, notifier, loginItems});

    qt::bindViews(ui, windows, delegate);
    qt::wireCommands(commands, ui, delegate, settings);
    // ---- Vault and preferences: menu commands, the vault window and its table ----
    commands.openVault = [&delegate] { delegate.OPenFileManageWindow(); };
    commands.preferences = [&delegate] { delegate.ClickShowPereferenceWindow(); };
    commands.hideFiles = [&delegate] { delegate.HideFileAction(); };
    commands.unhideFiles = [&delegate] { delegate.UnHideFileAction(); };
    commands.encryptFiles = [&delegate] { delegate.EncryptFileAction(); };
    commands.returnOnPasswordField = [&delegate] { delegate.ReturnOnPasswordField(); };
    commands.vaultWindowShouldClose = [&delegate] { return delegate.windowShouldClose(); };
    commands.removeFromList = [&delegate] { delegate.RemoveFileFromListAction(); };
    commands.verifyArchives = [&delegate] { delegate.VerifyArchivesAction(); };
    qt::SessionLock sessionLock(
        [&delegate](vault::LockTrigger why) { delegate.autoLockDecrypted(why); },
        [&settings] { return vault::autoLockMinutes(settings.number(vault::kAutoLockMinutesKey)); });
    commands.autoTidyDesktop = [&delegate] { delegate.ClickAutoTidyDesktop(); };
    commands.help = [&delegate] { delegate.ClickHelp(); };
    commands.about = [&delegate] { delegate.ActAboutAction(); };
    commands.quit = [&delegate] { delegate.QuiteVaultryAction(); };
    commands.vaultRows = [&delegate] { return delegate.tableViewViewsForAllRows("fileColumn"); };

    if (!banner.hasTrayHost())
        windows.mainWindow()->installEventFilter(new QuitOnClose(windows.mainWindow(), [&commands] {
            if (commands.quit) commands.quit();
        }));

    delegate.awakeFromNib();
    // Started at login it waits in the tray; without a tray the window is the only way in.
    if (!arguments.contains("--hidden") || !banner.hasTrayHost()) windows.mainWindow()->show();
    delegate.applicationDidFinishLaunching();
    const int status = app.exec();
    mainThread.shutDown();  // before the controllers join their workers
    return status;
}

#include <QApplication>
#include <QMainWindow>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "gui/Application.h"
#include "gui/QtUi.h"
#include "gui/SessionLock.h"
#include "gui/SingleInstance.h"
#include "gui/Style.h"
#include "platform/Version.h"
#include "platform/linux/SecretGuard.h"
#include "settings/Preferences.h"
#include "vault/AutoLock.h"

using namespace vaultry;

int main(int argc, char** argv) {
    platform::guardSecrets();
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
                "  --hidden      start without the main window, in the tray where there is one (the\n"
                "                login entry starts it so); a later start of vaultry shows the window\n"
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
    // Vaultry runs on with its windows closed, with or without a tray icon.
    QApplication::setQuitOnLastWindowClosed(false);
    qt::applyStyle();

    app.setWindowIcon(qt::iconFor(platform::ImageRef::named("appicon")));
    qt::Application vaultryApp(app);
    AppDelegate& delegate = *vaultryApp.delegate;
    // Files named on the command line (of this start or a later one) are handed to the controller.
    const auto handFiles = [&delegate](const QStringList& args) {
        std::vector<std::string> files;
        for (const QString& arg : args)
            if (!arg.startsWith('-')) files.push_back(arg.toStdString());
        if (files.size() == 1)
            delegate.applicationOpenFile(files.front());
        else if (!files.empty())
            delegate.applicationOpenFiles(files);
    };
    QObject::connect(&instance, &qt::SingleInstance::activated, &app,
                     [&vaultryApp, handFiles](const QStringList& handed, const QVariantMap& platformData) {
                         qt::raiseForAnotherStart(vaultryApp.windows.mainWindow(), handed, platformData);
                         handFiles(handed);
                     });
    const Preferences prefs(vaultryApp.settings);
    qt::SessionLock sessionLock([&delegate](vault::LockTrigger why) { delegate.autoLockDecrypted(why); },
                                [prefs] { return vault::autoLockMinutes(prefs.autoLockMinutes()); });
    // Started at login it waits in the tray, or in the background until a later start shows the
    // window; a panel may bring its tray only after Vaultry.
    vaultryApp.start(!arguments.contains("--hidden"));
    handFiles(arguments);
    const int status = app.exec();
    vaultryApp.shutDown();  // before the controllers join their workers
    return status;
}

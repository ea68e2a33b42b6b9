#include <QApplication>
#include <cstdio>
#include <string_view>

#include "gui/Application.h"
#include "gui/QtUi.h"
#include "gui/Style.h"
#include "platform/Version.h"

using namespace vaultry;

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version" || arg == "-v") {
            std::printf("vaultry %s\n", vaultry::kVersion);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::printf("Usage: vaultry [--version]\n");
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Vaultry");
    QApplication::setApplicationVersion(vaultry::kVersion);
    QApplication::setQuitOnLastWindowClosed(false);  // the tray icon keeps the application alive
    qt::applyStyle();

    app.setWindowIcon(qt::iconFor(platform::ImageRef::named("appicon")));
    qt::Application vaultryApp(app);
    vaultryApp.start();
    const int status = app.exec();
    vaultryApp.shutDown();  // before the controllers join their workers
    return status;
}

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string_view>

#include "app/AppDelegate.h"
#include "app/NotificationCenter.h"
#include "app/SettingsStore.h"
#include "platform/Version.h"
#include "platform/linux/LinuxBookmarks.h"
#include "platform/linux/LinuxHttp.h"
#include "platform/linux/LinuxLoginItems.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSpawn.h"
#include "platform/linux/SystemClock.h"
#include "platform/qt/QtDesktop.h"
#include "platform/qt/QtMainThread.h"
#include "platform/qt/QtUi.h"
#include "platform/qt/StatusBanner.h"
#include "platform/qt/Style.h"
#include "platform/qt/Views.h"
#include "platform/qt/Windows.h"

namespace {
namespace fs = std::filesystem;
using namespace vaultry;

// replaced by the Linux adapter when it lands
// The hidden mark is the item's name listed in its folder's ".hidden" file.
class LocalHiddenFlag final : public platform::HiddenFlag {
public:
    bool isHidden(const std::string& path) override {
        const fs::path p(path);
        const auto names = read(p.parent_path() / ".hidden");
        return std::find(names.begin(), names.end(), p.filename().string()) != names.end();
    }
    bool setHidden(const std::string& path, bool hidden) override {
        const fs::path p(path);
        const fs::path list = p.parent_path() / ".hidden";
        auto names = read(list);
        const std::string name = p.filename().string();
        names.erase(std::remove(names.begin(), names.end(), name), names.end());
        if (hidden) names.push_back(name);
        const fs::path temp = list.string() + ".vaultry-tmp";
        {
            std::ofstream out(temp, std::ios::trunc);
            for (const auto& n : names) out << n << '\n';
            out.flush();
            if (!out) return false;
        }
        if (int fd = ::open(temp.c_str(), O_RDONLY); fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
        std::error_code ec;
        fs::rename(temp, list, ec);
        return !ec;
    }

private:
    static std::vector<std::string> read(const fs::path& list) {
        std::vector<std::string> names;
        std::ifstream in(list);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) names.push_back(line);
        return names;
    }
};

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

    platform::LinuxPaths paths;
    SettingsStore settings(paths.settingsFile());
    NotificationCenter nc;
    qt::QtUi ui;
    qt::QtMainThread mainThread(&app);
    platform::SystemClock clock;
    platform::LinuxBookmarks bookmarks;
    qt::QtWorkspace workspace;
    LocalHiddenFlag hiddenFlag;
    qt::QtThumbnailer thumbnailer;
    platform::LinuxSpawn spawn;
    platform::LinuxHttp http;
    qt::DBusNotifier notifier;
    platform::LinuxLoginItems loginItems(paths, platform::LinuxLoginItems::guiProgram());

    qt::Commands commands;
    qt::Windows windows(ui, nc, commands);
    qt::StatusBanner banner(ui, windows, commands);
    if (!banner.hasTrayHost())
        windows.offerTrayCommands(banner.menu(),
                                  [&banner](QWidget* anchor) { banner.ClickStateBanner(anchor); });
    app.setWindowIcon(qt::iconFor(platform::ImageRef::named("appicon")));

    AppDelegate delegate(Services{ui, settings, nc, paths, clock, mainThread, bookmarks, workspace,
                                  hiddenFlag, thumbnailer, spawn, http, notifier, loginItems});

    qt::bindViews(ui, windows, delegate);
    qt::wireCommands(commands, ui, delegate, settings);
    // Commands the controller does not carry yet behave as documented for them.
    commands.quit = [&ui] { ui.terminate(); };
    commands.about = [&ui] {
        if (!ui.isVisible("aboutWindow")) ui.showWindow("aboutWindow");
    };

    if (!banner.hasTrayHost())
        windows.mainWindow()->installEventFilter(new QuitOnClose(windows.mainWindow(), [&commands] {
            if (commands.quit) commands.quit();
        }));

    delegate.awakeFromNib();
    windows.mainWindow()->show();
    delegate.applicationDidFinishLaunching();
    const int status = app.exec();
    mainThread.shutDown();  // before the controllers join their workers
    return status;
}

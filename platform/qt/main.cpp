#include <curl/curl.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string_view>

#include "app/AppDelegate.h"
#include "app/NotificationCenter.h"
#include "app/SettingsStore.h"
#include "platform/Version.h"
#include "platform/linux/DotHiddenFlag.h"
#include "platform/linux/LinuxBookmarks.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/SystemClock.h"
#include "platform/qt/QtDesktop.h"
#include "platform/qt/QtMainThread.h"
#include "platform/qt/QtUi.h"
#include "platform/qt/StatusBanner.h"
#include "platform/qt/Style.h"
#include "platform/qt/Windows.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;
using namespace vaultry;

// replaced by the Linux adapter when it lands
// posix_spawnp with an argument vector and both output streams captured; never a shell.
class LocalSpawn final : public platform::Spawn {
public:
    Result<Output> run(const std::string& program, const std::vector<std::string>& args) override {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return fail("pipe failed");
        if (::pipe2(err, O_CLOEXEC) != 0) {
            ::close(out[0]);
            ::close(out[1]);
            return fail("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        Output result;
        if (rc == 0) {
            pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
            std::string* sinks[2] = {&result.out, &result.err};
            int open = 2;
            char buf[4096];
            while (open > 0 && ::poll(fds, 2, -1) >= 0) {
                for (int i = 0; i < 2; ++i) {
                    if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                    const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                    if (n > 0) {
                        sinks[i]->append(buf, static_cast<size_t>(n));
                    } else {
                        fds[i].fd = -1;
                        --open;
                    }
                }
            }
        }
        ::close(out[0]);
        ::close(err[0]);
        if (rc != 0) return fail(std::string("cannot start ") + program + ": " + std::strerror(rc));
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }
};

// replaced by the Linux adapter when it lands
class LocalHttp final : public platform::Http {
public:
    Result<Response> get(const std::string& url) override {
        CURL* curl = curl_easy_init();
        if (!curl) return fail("curl unavailable");
        Response response;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
        curl_easy_setopt(
            curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t n, void* user) {
                auto* body = static_cast<std::vector<std::uint8_t>*>(user);
                body->insert(body->end(), data, data + size * n);
                return size * n;
            });
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
        const CURLcode rc = curl_easy_perform(curl);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
        curl_easy_cleanup(curl);
        if (rc != CURLE_OK) return fail(curl_easy_strerror(rc));
        return response;
    }
};

// replaced by the Linux adapter when it lands
// Starting at login is an XDG autostart entry.
class LocalLoginItems final : public platform::LoginItems {
public:
    explicit LocalLoginItems(const platform::Paths& paths)
        : entry_(paths.configHome() / "autostart/vaultry.desktop") {}
    bool isEnabled() override { return fs::exists(entry_); }
    bool setEnabled(bool enabled) override {
        std::error_code ec;
        if (!enabled) return fs::remove(entry_, ec) || !fs::exists(entry_);
        fs::create_directories(entry_.parent_path(), ec);
        std::ofstream out(entry_, std::ios::trunc);
        out << "[Desktop "
               "Entry]\nType=Application\nName=Vaultry\nExec=vaultry\nX-GNOME-Autostart-enabled=true\n";
        return static_cast<bool>(out.flush());
    }

private:
    fs::path entry_;
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
    platform::DotHiddenFlag hiddenFlag;
    qt::QtThumbnailer thumbnailer;
    LocalSpawn spawn;
    LocalHttp http;
    qt::DBusNotifier notifier;
    LocalLoginItems loginItems(paths);

    qt::Commands commands;
    qt::Windows windows(ui, nc, commands);
    qt::StatusBanner banner(ui, windows, commands);
    if (!banner.hasTrayHost())
        windows.offerTrayCommands(banner.menu(),
                                  [&banner](QWidget* anchor) { banner.ClickStateBanner(anchor); });
    app.setWindowIcon(qt::iconFor(platform::ImageRef::named("appicon")));

    AppDelegate delegate(Services{ui, settings, nc, paths, clock, mainThread, bookmarks, workspace,
                                  hiddenFlag, thumbnailer, spawn, http, notifier, loginItems});

    // ---- Vault and preferences: menu commands, the vault window and its table ----
    commands.openVault = [&delegate] { delegate.OPenFileManageWindow(); };
    commands.preferences = [&delegate] { delegate.ClickShowPereferenceWindow(); };
    commands.hideFiles = [&delegate] { delegate.HideFileAction(); };
    commands.unhideFiles = [&delegate] { delegate.UnHideFileAction(); };
    commands.encryptFiles = [&delegate] { delegate.EncryptFileAction(); };
    commands.returnOnPasswordField = [&delegate] { delegate.ReturnOnPasswordField(); };
    commands.vaultWindowShouldClose = [&delegate] { return delegate.windowShouldClose(); };
    commands.removeFromList = [&delegate] { delegate.RemoveFileFromListAction(); };
    commands.autoTidyDesktop = [&delegate] { delegate.ClickAutoTidyDesktop(); };
    commands.help = [&delegate] { delegate.ClickHelp(); };
    commands.about = [&delegate] { delegate.ActAboutAction(); };
    commands.quit = [&delegate] { delegate.QuiteVaultryAction(); };
    commands.vaultRows = [&delegate] { return delegate.tableViewViewsForAllRows("fileColumn"); };
    // ---- End of vault and preferences ----

    if (!banner.hasTrayHost())
        windows.mainWindow()->installEventFilter(new QuitOnClose(windows.mainWindow(), [&commands] {
            if (commands.quit) commands.quit();
        }));

    delegate.awakeFromNib();
    windows.mainWindow()->show();
    delegate.applicationDidFinishLaunching();
    return app.exec();
}

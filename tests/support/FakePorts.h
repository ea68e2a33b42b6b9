#pragma once
// Fakes of every port, and a World that wires them to a real settings store in a temporary home.
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/AppDelegate.h"
#include "app/NotificationCenter.h"
#include "platform/linux/LinuxBookmarks.h"
#include "settings/SettingsStore.h"

namespace vaultry::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& content);
std::string readFile(const std::filesystem::path& path);
bool present(const std::filesystem::path& path);  // anything at the path, a dangling link too

// Environment variables set (a null value removes one) for a test's length, and put back.
class Env {
public:
    Env() = default;
    Env(const char* name, const std::string& value) { set(name, value.c_str()); }
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;
    ~Env() { restore(); }
    void set(const char* name, const char* value);
    void restore();  // the values from before, now

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The folder of shared sample files, or empty when it is not beside the checkout.
std::filesystem::path sharedFixtures();

class FakeUi : public platform::Ui {
public:
    struct Outlet {
        bool hidden = false;
        bool visible = false;  // windows
        bool enabled = true;
        bool state = false;
        double number = 0;
        platform::ImageRef image;
        std::string text;
        int reloads = 0;
        std::int64_t clickedRow = -1;
    };
    std::map<std::string, Outlet, std::less<>> outlets;
    std::vector<std::string> events;  // "show:W", "hide:W", "center:W", "activate", "shake:W", ...
    std::vector<platform::Alert> alerts;
    std::deque<platform::AlertAnswer> alertAnswers;  // when empty: Default
    std::vector<platform::OpenPanel> openPanels;
    std::deque<std::optional<Paths>> panelAnswers;  // when empty: cancel
    std::vector<platform::SavePanel> savePanels;
    std::deque<std::optional<std::string>> savePanelAnswers;
    bool dark = false;
    bool terminated = false;

    Outlet& at(std::string_view name);

    const void* outlet(std::string_view name) override { return &at(name); }
    void showWindow(std::string_view w) override;
    void hideWindow(std::string_view w) override;
    void centerWindow(std::string_view w) override;
    bool isVisible(std::string_view w) override { return at(w).visible; }
    void activateApp() override { events.emplace_back("activate"); }
    void shake(std::string_view w) override { events.push_back("shake:" + std::string(w)); }
    void setHidden(std::string_view o, bool hidden) override { at(o).hidden = hidden; }
    bool isHidden(std::string_view o) override { return at(o).hidden; }
    using Ui::setImage;
    void setImage(std::string_view o, const platform::ImageRef& image) override { at(o).image = image; }
    platform::ImageRef image(std::string_view o) override { return at(o).image; }
    void setText(std::string_view o, std::string text) override { at(o).text = std::move(text); }
    std::string text(std::string_view o) override { return at(o).text; }
    void setEnabled(std::string_view o, bool enabled) override { at(o).enabled = enabled; }
    void setState(std::string_view o, bool on) override { at(o).state = on; }
    bool state(std::string_view o) override { return at(o).state; }
    void setNumber(std::string_view o, double v) override { at(o).number = v; }
    double number(std::string_view o) override { return at(o).number; }
    void reload(std::string_view t) override { ++at(t).reloads; }
    std::int64_t clickedRow(std::string_view t) override { return at(t).clickedRow; }
    platform::AlertAnswer runAlert(const platform::Alert& alert) override;
    std::optional<Paths> runOpenPanel(const platform::OpenPanel& panel) override;
    void beginSheet(std::string_view window, const platform::OpenPanel& panel,
                    std::function<void(std::optional<Paths>)> done) override;
    std::optional<std::string> runSavePanel(const platform::SavePanel& panel) override;
    // Runs the work on the test's thread; with cancelAt set, Cancel is pressed as soon as the
    // work reports that many units done in its step named cancelStep (any step when empty).
    void runWithProgress(std::string title, Progress& progress, const std::function<void()>& work) override;
    std::optional<std::uint64_t> cancelAt;
    std::string cancelStep;
    std::vector<std::string> progressSteps;  // every step the work began, in order
    void terminate() override { terminated = true; }
    bool darkAppearance() override { return dark; }
};

// The main thread is the test's thread: performAndWait from a worker queues the step and waits
// until the test pumps it; timers fire only when the test says so.
class FakeMainThread : public platform::MainThread {
public:
    FakeMainThread() : mainId_(std::this_thread::get_id()) {}
    void performAndWait(std::function<void()> fn) override;
    void post(std::function<void()> fn) override;
    TimerId startTimer(std::chrono::milliseconds interval, bool repeats, std::function<void()> fn) override;
    void stopTimer(TimerId id) override;

    // Runs queued steps until pred() holds or the time runs out; true when pred() held.
    bool pumpUntil(const std::function<bool()>& pred,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30));
    void pump();  // runs what is queued now
    struct Timer {
        std::chrono::milliseconds interval;
        bool repeats;
        std::function<void()> fn;
    };
    std::map<TimerId, Timer> timers;
    void fire(TimerId id);

private:
    std::thread::id mainId_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    TimerId next_ = 1;
};

class FakeClock : public platform::Clock {
public:
    platform::TimePoint t = std::chrono::system_clock::from_time_t(1'765'000'000);
    platform::TimePoint now() const override { return t; }
};

class FakePaths : public platform::Paths {
public:
    explicit FakePaths(std::filesystem::path root) : root_(std::move(root)) {}
    std::filesystem::path home() const override { return root_; }
    std::string userName() const override { return "tester"; }
    std::filesystem::path desktop() const override {
        return desktopDir.empty() ? root_ / "Desktop" : desktopDir;
    }
    std::filesystem::path documents() const override { return root_ / "Documents"; }
    std::filesystem::path downloads() const override { return root_ / "Downloads"; }
    std::filesystem::path configHome() const override { return root_ / ".config"; }
    std::filesystem::path dataHome() const override { return root_ / ".local/share"; }
    std::filesystem::path trash() const override { return dataHome() / "Trash"; }
    std::filesystem::path installedDocs() const override { return root_ / "usr/share/doc/vaultry"; }
    std::filesystem::path desktopDir;  // the desktop as the user-dirs file names it, when set

private:
    std::filesystem::path root_;
};

class FakeWorkspace : public platform::Workspace {
public:
    std::vector<std::string> revealed, opened, urls;
    std::vector<std::vector<std::string>> copied;  // each copy's paths
    std::vector<std::string> copiedTexts;
    bool fileManager = true;  // false: a desktop where neither reveal nor open finds a handler
    bool reveal(const std::string& p) override { return revealed.push_back(p), fileManager; }
    bool open(const std::string& p) override { return opened.push_back(p), fileManager; }
    bool openUrl(const std::string& u) override { return urls.push_back(u), true; }
    void copyFiles(const std::vector<std::string>& p) override { copied.push_back(p); }
    void copyText(const std::string& text) override { copiedTexts.push_back(text); }
};

class FakeHiddenFlag : public platform::HiddenFlag {
public:
    std::set<std::string> hidden;
    std::set<std::string> failing;  // paths whose flag cannot be changed
    bool isHidden(const std::string& p) override { return hidden.count(p) > 0; }
    bool setHidden(const std::string& p, bool on) override;
};

class FakeThumbnailer : public platform::Thumbnailer {
public:
    std::vector<std::string> sources;
    std::vector<Size> sizes;               // asked for, in order
    std::map<std::string, Size> pictures;  // paths that load as images, with their size
    bool failing = false;                  // no preview comes back
    std::optional<Size> imageSize(const std::string& path) override;
    bool writeThumbnail(const std::string& source, const std::string& tiffPath, Size size) override;
};

class FakeSpawn : public platform::Spawn {
public:
    struct Call {
        std::string program;
        std::vector<std::string> args;
    };
    std::vector<Call> calls;
    std::function<Result<Output>(const Call&)> answer;  // default: exit 0, no output
    Result<Output> run(const std::string& program, const std::vector<std::string>& args) override;
};

class FakeHttp : public platform::Http {
public:
    std::map<std::string, Result<Response>> responses;  // by URL; others fail
    std::vector<std::string> requested;
    std::mutex mutex;
    Result<Response> get(const std::string& url) override;
};

class FakeNotifier : public platform::Notifier {
public:
    std::vector<Notification> scheduled;
    std::vector<std::string> removed;
    Response handler;
    void schedule(const Notification& n) override { scheduled.push_back(n); }
    std::vector<std::string> delivered() override;
    void remove(const std::string& id) override { removed.push_back(id); }
    void setResponseHandler(Response h) override { handler = std::move(h); }
    bool actions = true;  // false: no service, or one without action buttons
    bool offersActions() override { return actions; }
};

class FakeLoginItems : public platform::LoginItems {
public:
    bool enabled = false;
    bool failing = false;  // changes fail and leave the state as it is
    bool isEnabled() override { return enabled; }
    bool setEnabled(bool on) override { return failing ? false : (enabled = on, true); }
};

// A temporary home with a settings store and every port faked (bookmarks are the real ones); the
// GUI tests put the real Qt adapter in the place of the Ui.
template <class UiPort>
struct WorldWith {
    TempDir dir;
    FakePaths paths{dir.path()};
    SettingsStore settings{paths.settingsFile()};
    NotificationCenter nc;
    UiPort ui;
    FakeMainThread mainThread;
    FakeClock clock;
    platform::LinuxBookmarks bookmarks;
    FakeWorkspace workspace;
    FakeHiddenFlag hiddenFlag;
    FakeThumbnailer thumbnailer;
    FakeSpawn spawn;
    FakeHttp http;
    FakeNotifier notifier;
    FakeLoginItems loginItems;

    Services services() {
        return {ui,        settings,   nc,          paths, clock, mainThread, bookmarks,
                workspace, hiddenFlag, thumbnailer, spawn, http,  notifier,   loginItems};
    }
};
using World = WorldWith<FakeUi>;

// Captures log lines for the lifetime of the object.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> lines() const;
    bool contains(std::string_view text) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace vaultry::test

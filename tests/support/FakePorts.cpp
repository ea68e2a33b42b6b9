#include "support/FakePorts.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/Outlets.h"
#include "util/Log.h"

namespace vaultry::test {

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "vaultry-test-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Env::set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

void Env::restore() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    saved_.clear();
}

bool present(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::filesystem::path sharedFixtures() {
    std::filesystem::path p = std::filesystem::path(VAULTRY_SHARED_DIR) / "fixtures";
    std::error_code ec;
    return std::filesystem::is_directory(p, ec) ? p : std::filesystem::path();
}

FakeUi::Outlet& FakeUi::at(std::string_view name) {
    auto it = outlets.find(name);
    if (it == outlets.end()) {
        // The real windows register only the names of the outlet list; a name outside it would
        // reach no control there, so it fails here too.
        if (!outlet::isKnown(name)) ADD_FAILURE() << "no outlet is named \"" << name << "\"";
        it = outlets.emplace(std::string(name), Outlet{}).first;
    }
    return it->second;
}

void FakeUi::showWindow(std::string_view w) {
    at(w).visible = true;
    events.push_back("show:" + std::string(w));
}

void FakeUi::hideWindow(std::string_view w) {
    at(w).visible = false;
    events.push_back("hide:" + std::string(w));
}

void FakeUi::centerWindow(std::string_view w) { events.push_back("center:" + std::string(w)); }

platform::AlertAnswer FakeUi::runAlert(const platform::Alert& alert) {
    alerts.push_back(alert);
    events.push_back("alert:" + alert.message);
    if (alertAnswers.empty()) return platform::AlertAnswer::Default;
    auto a = alertAnswers.front();
    alertAnswers.pop_front();
    return a;
}

void FakeUi::runWithProgress(std::string title, Progress& progress, const std::function<void()>& work) {
    events.push_back("progress:" + title);
    at("progressWindow").visible = true;
    std::string lastStep;
    progress.watch([this, &lastStep](Progress& p) {
        const auto now = p.state();
        if (now.step != lastStep) progressSteps.push_back(lastStep = now.step);
        if (cancelAt && now.done >= *cancelAt && (cancelStep.empty() || now.step == cancelStep)) p.cancel();
    });
    work();
    progress.watch({});
    at("progressWindow").visible = false;
}

std::optional<platform::Ui::Paths> FakeUi::runOpenPanel(const platform::OpenPanel& panel) {
    openPanels.push_back(panel);
    events.emplace_back("openPanel");
    if (panelAnswers.empty()) return std::nullopt;
    auto a = panelAnswers.front();
    panelAnswers.pop_front();
    return a;
}

void FakeUi::beginSheet(std::string_view window, const platform::OpenPanel& panel,
                        std::function<void(std::optional<Paths>)> done) {
    events.push_back("sheet:" + std::string(window));
    done(runOpenPanel(panel));
}

std::optional<std::string> FakeUi::runSavePanel(const platform::SavePanel& panel) {
    savePanels.push_back(panel);
    events.emplace_back("savePanel");
    if (savePanelAnswers.empty()) return std::nullopt;
    auto a = savePanelAnswers.front();
    savePanelAnswers.pop_front();
    return a;
}

void FakeMainThread::performAndWait(std::function<void()> fn) {
    if (std::this_thread::get_id() == mainId_) {
        fn();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;
    post([&] {
        fn();
        std::lock_guard lock(doneMutex);
        done = true;
        doneCv.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneCv.wait(lock, [&] { return done; });
}

void FakeMainThread::post(std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(fn));
    cv_.notify_all();
}

platform::MainThread::TimerId FakeMainThread::startTimer(std::chrono::milliseconds interval, bool repeats,
                                                         std::function<void()> fn) {
    timers.emplace(next_, Timer{interval, repeats, std::move(fn)});
    return next_++;
}

void FakeMainThread::stopTimer(TimerId id) { timers.erase(id); }

void FakeMainThread::fire(TimerId id) {
    auto it = timers.find(id);
    if (it == timers.end()) return;
    auto fn = it->second.fn;
    if (!it->second.repeats) timers.erase(it);
    fn();
}

void FakeMainThread::pump() {
    std::deque<std::function<void()>> now;
    {
        std::lock_guard lock(mutex_);
        now.swap(queue_);
    }
    for (auto& fn : now) fn();
}

bool FakeMainThread::pumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pump();
        if (pred()) return true;
        std::unique_lock lock(mutex_);
        if (!cv_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) {
            lock.unlock();
            pump();
            return pred();
        }
    }
}

bool FakeHiddenFlag::setHidden(const std::string& p, bool on) {
    if (failing.count(p)) return false;
    if (on)
        hidden.insert(p);
    else
        hidden.erase(p);
    return true;
}

std::optional<platform::Thumbnailer::Size> FakeThumbnailer::imageSize(const std::string& path) {
    auto it = pictures.find(path);
    if (it == pictures.end()) return std::nullopt;
    return it->second;
}

bool FakeThumbnailer::writeThumbnail(const std::string& source, const std::string& tiffPath, Size size) {
    sources.push_back(source);
    sizes.push_back(size);
    if (failing) return false;
    writeFile(tiffPath, "II*\0");
    return true;
}

Result<platform::Spawn::Output> FakeSpawn::run(const std::string& program,
                                               const std::vector<std::string>& args) {
    calls.push_back({program, args});
    if (answer) return answer(calls.back());
    return Output{0, "", ""};
}

Result<platform::Http::Response> FakeHttp::get(const std::string& url) {
    std::lock_guard lock(mutex);
    requested.push_back(url);
    if (auto it = responses.find(url); it != responses.end()) return it->second;
    return fail("Could not connect to server");
}

std::vector<std::string> FakeNotifier::delivered() {
    std::vector<std::string> ids;
    for (const auto& n : scheduled) ids.push_back(n.identifier);
    return ids;
}

LogCapture::LogCapture() {
    setLogSink([this](std::string_view line) {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    });
}

LogCapture::~LogCapture() { setLogSink({}); }

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool LogCapture::contains(std::string_view text) const {
    std::lock_guard lock(mutex_);
    for (const auto& l : lines_)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace vaultry::test

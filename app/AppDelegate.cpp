#include "app/AppDelegate.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "app/Notifications.h"
#include "app/PPopoverviewConterller.h"
#include "app/PRUpdateController.h"
#include "desktop/SizeText.h"
#include "flows/Upgrade.h"
#include "platform/Outlets.h"
#include "util/Log.h"
#include "util/TimeText.h"

namespace vaultry {
namespace {
AppDelegate* gInstance = nullptr;

std::string hourMinute(std::chrono::system_clock::time_point t) { return timeText(t, "%H:%M", Zone::local); }
}  // namespace

AppDelegate::AppDelegate(Services services)
    : updateController(std::make_unique<PRUpdateController>(services)),
      nc(services.nc),
      thePopViewController(std::make_unique<PPopoverviewConterller>(*this, services)),
      s_(services) {
    using namespace notify;
    const std::pair<const char*, void (AppDelegate::*)(const Notification&)> observed[] = {
        {PRLeftButtonMouseDown, &AppDelegate::SkinButtonMouseDownHandle},
        {FBLeftButtonMouseDown, &AppDelegate::SkinButtonMouseDownHandle},
        {MyClosebuttonMouseDown, &AppDelegate::SkinButtonMouseDownHandle},
        {ClickShowInFinderNotification, &AppDelegate::ClickShowInFinderNotificationHandle},
        {ClickSwtichOnNotification, &AppDelegate::ClickSwtichNotificationHandle},
        {ClickSwtichOffNotification, &AppDelegate::ClickSwtichOffNotificationHandle},
    };
    for (const auto& [name, handler] : observed)
        observers_.push_back(
            nc.addObserver(name, [this, h = handler](const Notification& n) { (this->*h)(n); }));
    integrityKeeper_ = std::make_unique<vault::SettingsIntegrityKeeper>(
        s_.settings, [&notifier = s_.notifier, &main = s_.mainThread](const std::string& message) {
            logLine("integrity record: " + message);
            main.post([&notifier, message] {
                notifier.schedule({"vaultry.integrity", "Vaultry checked your archives", message, {}});
            });
        });
    gInstance = this;
}

AppDelegate::~AppDelegate() {
    for (auto token : observers_) nc.removeObserver(token);
    trashSizeTask_.cancel();  // a size measured for a controller that goes is dropped
    for (auto* task : {&cookieScanTask_, &cookieExportTask_, &cookieRemoveTask_, &tidyTask_}) task->join();
    if (autoTidyTimer) s_.mainThread.stopTimer(autoTidyTimer);
    if (autoTrashTimer) s_.mainThread.stopTimer(autoTrashTimer);
    if (gInstance == this) gInstance = nullptr;
}

AppDelegate* AppDelegate::GetAppControllor() { return gInstance; }

void AppDelegate::joinTidyWorkerForTest() { tidyTask_.join(); }

void AppDelegate::setCookieRecordsForTest(CookNodes shown, CookNodes opened) {
    dataController = std::move(shown);
    newCookieArray = std::move(opened);
}

char* AppDelegate::size_to_unit(std::uint64_t bytes, char* out_buffer) {
    return vaultry::size_to_unit(bytes, out_buffer);
}

std::string AppDelegate::currentScanFilePath() const {
    std::lock_guard lock(propertyMutex_);
    return currentScanFilePath_;
}
void AppDelegate::setCurrentScanFilePath(std::string path) {
    std::lock_guard lock(propertyMutex_);
    currentScanFilePath_ = std::move(path);
}
std::string AppDelegate::StorelocationPath() const {
    std::lock_guard lock(propertyMutex_);
    return storelocationPath_;
}
void AppDelegate::setStorelocationPath(std::string path) {
    std::lock_guard lock(propertyMutex_);
    storelocationPath_ = std::move(path);
}

void AppDelegate::awakeFromNib() {
    ui_.setHidden(outlet::openView, false);
    ui_.setHidden(outlet::theConentView, true);
    ui_.setHidden(outlet::newCookieBtn, true);
    ui_.setHidden(outlet::startTidyView, false);
    isDarkMode = ui_.darkAppearance();
    readConfigfileInfo();
    for (const char* label : {outlet::warnlab, outlet::enterPDWarnLab, outlet::warnnewPWlab})
        ui_.setHidden(label, true);
    bperfPassW = false;
}

void AppDelegate::readConfigfileInfo() {
    ui_.setState(outlet::autoLunchBtn, prefs_.autoLogin());
    ui_.setState(outlet::autoCleanupSelectBtn, prefs_.autoTidy());
    ui_.setText(outlet::tidyTimePicker, prefs_.tidyTime());
    readPreferences();
}

void AppDelegate::applicationDidFinishLaunching() {
    bSafariCookie = false;
    bFireFoxCookie = false;
    ui_.setHidden(outlet::theProgressor, true);
    bookmarkFileURL.clear();
    initStateBannerView();
    settleEarlierVersions();
    loadVaultLists();
    recordTrashGrant();
    thePopViewController->showTrashSettings();
    showLastEmptying();
    // The desktop page and the popover list what lies in the tidy folder from the start.
    freshCurrentDeskTop();
    SortAllDataArray();
    showDesktopLists();
    ui_.activateApp();
    updateController->hidUpdateWindow();
    updateController->checkServerVersion();
    startAutoTrashTimer();
    autoTidyTimer =
        s_.mainThread.startTimer(std::chrono::seconds(1), true, [this] { BMakeModeTimer_hander(); });
}

void AppDelegate::settleEarlierVersions() {
    const auto upgraded = flows::upgrade(prefs_, s_.bookmarks, s_.paths.trash());
    // Tidied items go to the folder chosen for them, never into the vault's storage folder.
    setStorelocationPath(upgraded.tidyLocation);
    if (!upgraded.tell.empty())
        ui_.runAlert({"The tidy folder was left where it was.", upgraded.tell, " Ok ", "", ""});
}

void AppDelegate::initStateBannerView() {
    ui_.setImage(outlet::_statusItem, ui_.darkAppearance() ? "darkbannerIcon.png" : "bannerIcon.png");
}

void AppDelegate::runLongWork(const std::string& title, Progress& progress,
                              const std::function<void()>& work) {
    longWorkRunning_ = true;
    ui_.runWithProgress(title, progress, work);
    longWorkRunning_ = false;
    if (auto trigger = std::exchange(deferredAutoLock_, std::nullopt)) autoLockDecrypted(*trigger);
}

flows::RunLongWork AppDelegate::longWork() {
    return [this](const std::string& title, const std::function<void(Progress&)>& work) {
        Progress progress;
        runLongWork(title, progress, [&] { work(progress); });
    };
}

bool AppDelegate::applicationOpenFile(const std::string& fileName) {
    logLine("FileName1====" + fileName);
    return true;
}

void AppDelegate::applicationOpenFiles(const std::vector<std::string>& fileNames) {
    for (const auto& name : fileNames) logLine("FileName2====" + name);
}

void AppDelegate::tellRunningInBackground() {
    if (prefs_.backgroundNoticeGiven()) return;
    s_.notifier.remove(kBackgroundNotification);
    s_.notifier.setResponseHandler([this](const std::string& identifier, const std::string& action) {
        userNotificationCenterDidActivateNotification(identifier, action);
    });
    s_.notifier.schedule({kBackgroundNotification,
                          "Vaultry is still running",
                          "Its window is closed, and decrypted items are still locked in time, the desktop "
                          "tidied and the Trash emptied on schedule. Start Vaultry again to open the "
                          "window; Quit Vaultry is in its Commands menu.",
                          {}});
    // Without a notification service nobody was told: the next time tries again.
    const auto shown = s_.notifier.delivered();
    if (std::find(shown.begin(), shown.end(), kBackgroundNotification) == shown.end()) return;
    prefs_.setBackgroundNoticeGiven(true);
    prefs_.save();
}

void AppDelegate::BMakeModeTimer_hander() {
    if (!ui_.state(outlet::autoCleanupSelectBtn)) return;
    const std::string chosen = ui_.text(outlet::tidyTimePicker);
    const std::string now = hourMinute(s_.clock.now());
    const bool dark = ui_.darkAppearance();
    if (dark && !isDarkMode) {
        ui_.setImage(outlet::_statusItem, "darkbannerIcon.png");
        isDarkMode = true;
    } else if (!dark && isDarkMode) {
        ui_.setImage(outlet::_statusItem, "bannerIcon.png");
        isDarkMode = false;
    }
    if (chosen == now) logLine("tidy time " + now);
    if (!isBusy()) autoTidyIfDue();
}

}  // namespace vaultry

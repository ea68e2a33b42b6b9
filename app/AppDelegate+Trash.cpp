#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/AppDelegate.h"
#include "app/PPopoverviewConterller.h"
#include "desktop/SizeText.h"
#include "platform/Outlets.h"
#include "trash/SecureErase.h"
#include "trash/Trash.h"
#include "trash/TrashItems.h"
#include "trash/TrashSchedule.h"
#include "util/Log.h"

namespace vaultry {
namespace {

constexpr const char* kEmptyTrashNotification = "EmptyTrashNow3";

void logRemoval(const trash::RemoveReport& r) {
    if (!r.ok()) logLine("empty trash: " + std::to_string(r.failed) + " item(s) could not be removed");
}

void logPartial(const trash::PartialReport& r) {
    logLine("trash: " + std::to_string(r.removed) + " item(s) removed, " + std::to_string(r.unreadable) +
            " without a readable .trashinfo left");
    if (!r.ok()) logLine("trash: " + std::to_string(r.failed) + " item(s) could not be removed");
}

// The home Trash and every volume's Trash of this user.
std::vector<trash::TrashFolder> trashFolders(const platform::Paths& paths) {
    return trash::allTrashFolders(paths.trash(), paths.mountTable(), ::getuid());
}

// The schedule's rules as the hourly check reads them. The boxes and the time are read as the
// settings view shows them (it shows what is kept and keeps what is changed); the size limit and
// the two "only some items" options come from the settings.
trash::ScheduleRules scheduleRules(PPopoverviewConterller& view, const Preferences& prefs) {
    trash::ScheduleRules rules;
    rules.byTime = view.BCheckDate();
    rules.bySize = view.BCheckStorage();
    rules.interval = trash::intervalOfTimeChoice(view.getTimeFrequency());
    rules.sizeLimit = prefs.trashSizeLimit();
    rules.onlyOlder = prefs.trashOnlyOlderItems();
    rules.onlyOldest = prefs.trashOnlyOldestItems();
    return rules;
}

}  // namespace

std::uint64_t AppDelegate::fastFolderSizeAtFilePath(const std::string& path) {
    return trash::fastFolderSizeAtFilePath(s_.spawn, path);
}

std::uint64_t AppDelegate::getTrashFileSize() {
    const std::uint64_t size = trash::totalSize(s_.spawn, trashFolders(s_.paths));
    logLine("trash size " + std::to_string(size));
    return size;
}

void AppDelegate::ShowTrashSize() {
    // du may take a while on a full Trash: it runs on a worker and the label is set on the main
    // thread, as the cookie scans do. A request while one runs is served by the running one.
    if (trashSizeTask_.running()) return;
    // The worker hands its result over without waiting for the main thread, so the controller
    // can go (joining it) at any time; a result for a controller that went is dropped.
    trashSizeTask_.start(
        [this] { return getTrashFileSize(); },
        [this](std::uint64_t size) { ui_.setText(outlet::trashSizelab, sizeText(size, 2)); });
}

void AppDelegate::showLastEmptying() {
    const auto date = prefs_.lastCleanDate();
    if (!date) {
        ui_.setText(outlet::trashLastCleanlab, "Not emptied by Vaultry yet.");
        return;
    }
    const auto size = prefs_.lastCleanSize();
    const std::string dateText = trash::lastCleanDateText(*date);
    thePopViewController->ShowLastCleanUpInfo(size, dateText);
    std::string day = dateText;
    std::erase(day, '(');
    std::erase(day, ')');
    ui_.setText(outlet::trashLastCleanlab, size && !size->empty()
                                               ? "Last emptied on " + day + ", when it held " + *size + "."
                                               : "Last emptied on " + day + ".");
}

void AppDelegate::StrongEmptyTrash() {
    if (ui_.runAlert({"Are you sure you want to remove all items in the Trash ?", "", " Empty Trash ",
                      " Cancel ", ""}) != platform::AlertAnswer::Default)
        return;
    prefs_.setLastCleanDate(s_.clock.now());
    prefs_.setLastCleanSize(sizeText(getTrashFileSize(), 2));
    prefs_.save();
    logRemoval(trash::emptyAll(trashFolders(s_.paths), trash::Unlock::Yes));
    showLastEmptying();
    ShowTrashSize();
}

void AppDelegate::removeAllTrashFile(std::optional<std::uint64_t> measuredSize) {
    if (ui_.runAlert({"Are you sure you want to remove all items in the Trash ?", "", " Empty Trash ",
                      " Cancel ", ""}) != platform::AlertAnswer::Default)
        return;
    // The size is recorded only once the user agreed: a cancelled emptying leaves every key as it was.
    if (measuredSize) prefs_.setLastCleanSize(sizeText(*measuredSize, 2));
    prefs_.setLastCleanDate(s_.clock.now());
    prefs_.save();
    logRemoval(trash::emptyAll(trashFolders(s_.paths), trash::Unlock::No));
    showLastEmptying();
    ShowTrashSize();
}

void AppDelegate::recordTrashGrant() {
    const std::filesystem::path trashFolder = s_.paths.trash();
    const auto current = [&](const std::optional<Bytes>& data) {
        if (!data) return false;
        const auto resolved = s_.bookmarks.resolve(*data);
        return resolved && !resolved->stale && std::filesystem::path(resolved->path) == trashFolder;
    };
    if (current(prefs_.trashGrant()) && current(prefs_.cookieFolderGrant())) return;
    // A tidy location an earlier version kept under the Trash's key has moved to its own by now
    // (settleEarlierVersions).
    // The freedesktop Trash is made on first use; making it here changes nothing for its users.
    std::error_code ec;
    std::filesystem::create_directories(trashFolder, ec);
    const auto grant = s_.bookmarks.create(trashFolder.string());
    if (!grant) {
        logLine("trash: no grant for " + trashFolder.string());
        return;
    }
    prefs_.setTrashGrant(*grant);
    prefs_.setCookieFolderGrant(*grant);
    prefs_.save();
}

void AppDelegate::ShowAutoTrash() {
    if (ui_.isVisible(outlet::autoTrashWindow))
        ui_.hideWindow(outlet::autoTrashWindow);
    else
        ui_.showWindow(outlet::autoTrashWindow);
}

bool AppDelegate::removeSomeTrashItems() {
    const auto r = trash::removeSomeItems(scheduleRules(*thePopViewController, prefs_),
                                          trashFolders(s_.paths), s_.clock.now());
    if (r.removedOldest) logPartial(r.oldest);
    if (r.removedOlder) logPartial(r.older);
    return r.removedOldest || r.removedOlder;
}

bool AppDelegate::trashIsDue() {
    return trash::emptyAllIsDue(scheduleRules(*thePopViewController, prefs_),
                                trash::secondsSince(prefs_.lastCleanDate(), s_.clock.now()),
                                [this] { return getTrashFileSize(); });
}

void AppDelegate::startAutoTrashTimer() {
    if (autoTrashTimer) s_.mainThread.stopTimer(autoTrashTimer);
    autoTrashTimer = s_.mainThread.startTimer(std::chrono::minutes(1), false, [this] {
        autoTrashTimer =
            s_.mainThread.startTimer(std::chrono::hours(1), true, [this] { CleanUpTimer_hander(); });
        CleanUpTimer_hander();
    });
}

void AppDelegate::CleanUpTimer_hander() {
    if (isBusy()) return;  // looked at again within the hour
    // The oldest or older items go quietly first; emptying everything is asked by a notification.
    const auto now = s_.clock.now();
    const auto r = trash::checkSchedule(scheduleRules(*thePopViewController, prefs_), trashFolders(s_.paths),
                                        now, trash::secondsSince(prefs_.lastCleanDate(), now),
                                        [this] { return getTrashFileSize(); });
    if (r.removedOldest) logPartial(r.oldest);
    if (r.removedOlder) logPartial(r.older);
    if (r.emptyAllDue) StartShowNotify();
}

void AppDelegate::StartShowNotify() {
    if (!s_.notifier.offersActions()) {
        // No notification can carry the two answers: the question is asked in a window.
        const auto answer = ui_.runAlert({"Start to empty Trash now", "", "OK", "Later", ""});
        userNotificationCenterDidActivateNotification(
            kEmptyTrashNotification, answer == platform::AlertAnswer::Default ? "OK" : "Later");
        return;
    }
    s_.notifier.remove(kEmptyTrashNotification);
    s_.notifier.setResponseHandler([this](const std::string& identifier, const std::string& action) {
        userNotificationCenterDidActivateNotification(identifier, action);
    });
    s_.notifier.schedule({kEmptyTrashNotification, "Start to empty Trash now", " ", {"OK", "Later"}});
}

void AppDelegate::userNotificationCenterDidDeliverNotification(const std::string& identifier) {
    logLine("notification delivered: " + identifier);
}

void AppDelegate::userNotificationCenterDidActivateNotification(const std::string& identifier,
                                                                const std::string& action) {
    if (identifier == kBackgroundNotification) {
        ui_.showWindow(outlet::window);
        return;
    }
    if (action.empty()) {
        logLine("notification clicked: " + identifier);
        return;
    }
    logLine("notification action " + action + ": " + identifier);
    // "OK" empties after the usual question; "Later" leaves it to the next check.
    if (identifier == kEmptyTrashNotification && action == "OK") removeAllTrashFile(getTrashFileSize());
    if (identifier == "AutoTidyDone" && action == "Undo") UndoLastTidy();
}

void AppDelegate::ClickSortelloOnLogin() { thePopViewController->ClickAutoTrashOnLogin(); }

void AppDelegate::StartSafeDeleteFileAction() {
    if (isBusy()) return;
    platform::OpenPanel panel;
    panel.chooseFiles = true;
    panel.chooseDirectories = true;
    panel.multipleSelection = true;
    panel.message = "Choose the file(s) or folder(s) to secure deletion.";
    panel.directory = s_.paths.trash().string();
    const auto chosen = ui_.runOpenPanel(panel);
    if (!chosen || chosen->empty()) return;
    std::string list;
    for (const auto& p : *chosen) list = list + " \n " + p;
    if (ui_.runAlert({"Are you sure you want to permanently erase the selected items ?", list, " Erase ",
                      " Cancel ", ""}) != platform::AlertAnswer::Default)
        return;
    const trash::EraseTool tool = trash::eraseToolForPasses(static_cast<unsigned>(prefs_.erasePasses()));
    const std::string total = std::to_string(chosen->size());
    eraseRunning_ = true;
    ui_.setHidden(outlet::eraseProgresslab, false);
    ui_.setText(outlet::eraseProgresslab, "0 of " + total);
    Progress progress;
    trash::EraseRun run;
    runLongWork("Erasing", progress, [&] { run = trash::eraseItems(s_.spawn, tool, *chosen, progress); });
    if (run.report.failed)
        logLine("erase: " + std::to_string(run.report.failed) + " item(s) could not be erased");
    const auto names = [](const std::vector<std::string>& items) {
        std::string text;
        for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
        return text;
    };
    if (!run.report.cancelled) {
        ui_.setText(outlet::eraseProgresslab, total + " of " + total);
        logLine("erase file finished");
        EraseAllFinishedHanderToMainThread();
        if (run.report.ok()) return;
        // Whatever was not overwritten is said: a file left in place is not a success.
        std::string details = std::to_string(run.report.erased) +
                              (run.report.erased == 1 ? " file was" : " files were") + " erased, " +
                              std::to_string(run.report.removed) + " other item(s) removed, " +
                              std::to_string(run.report.failed) + " not erased.";
        for (const auto& why : run.report.refusals) details += "\n" + why;
        if (!run.report.otherFileSystems.empty())
            details +=
                "\nLeft alone, another file system is mounted there: " + names(run.report.otherFileSystems) +
                ".";
        if (!run.failing.empty()) details += "\nNot everything was erased in: " + names(run.failing) + ".";
        ui_.runAlert({"Not everything was erased.", details, " Ok ", "", ""});
        return;
    }
    ui_.setText(outlet::eraseProgresslab, std::to_string(run.gone.size()) + " of " + total);
    logLine("erase: cancelled after " + std::to_string(run.report.erased) + " file(s)");
    EraseAllFinishedHanderToMainThread();
    // What was overwritten cannot come back: the user is told exactly what is gone and what is not.
    std::vector<std::string> untouched;
    for (const auto& item : run.left)
        if (std::find(run.partial.begin(), run.partial.end(), item) == run.partial.end())
            untouched.push_back(item);
    std::string details = std::to_string(run.report.erased) +
                          (run.report.erased == 1 ? " file was" : " files were") + " erased.";
    if (!run.gone.empty()) details += "\nErased: " + names(run.gone) + ".";
    if (!run.partial.empty())
        details += "\nPartly erased (the files not reached yet are still in it): " + names(run.partial) + ".";
    if (!untouched.empty()) details += "\nLeft as they were: " + names(untouched) + ".";
    ui_.runAlert({"Erasing was cancelled.", details, " Ok ", "", ""});
}

void AppDelegate::EraseFileDirectoryPath(const std::string& folder) {
    const auto r = trash::EraseFileDirectoryPath(s_.spawn, trash::defaultEraseTool(), folder);
    if (!r.ok()) logLine("erase: " + std::to_string(r.failed) + " item(s) could not be erased");
}

void AppDelegate::EraseAllFinishedHanderToMainThread() {
    eraseRunning_ = false;
    ui_.setHidden(outlet::eraseProgresslab, true);
    ShowTrashSize();
}

}  // namespace vaultry

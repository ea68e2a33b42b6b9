// The desktop tidy and the desktop browser page of the application controller.
#include <algorithm>
#include <filesystem>

#include "app/AppDelegate.h"
#include "app/PPopoverviewConterller.h"
#include "app/ShowInFileManager.h"
#include "desktop/FBFileNode.h"
#include "desktop/Tidy.h"
#include "flows/Tidy.h"
#include "platform/Outlets.h"
#include "util/Log.h"
#include "vault/Records.h"
#include "vault/VaultIdentity.h"

namespace vaultry {
namespace {

constexpr const char* kBrowser = outlet::theBroswerView;
constexpr const char* kAutoTidyNotification = "AutoTidyDone";

void eraseNode(AppDelegate::FileNodes& list, const std::shared_ptr<FBFileNode>& node) {
    list.erase(std::remove(list.begin(), list.end(), node), list.end());
}

// What a tidy did, gathered off the main thread.
struct TidyRun {
    std::size_t moved = 0, failedCount = 0;
    std::string failedNames, error;
    bool cancelled = false;
    FileNodes records;  // what the tidy folder holds afterwards, earlier tidies included
};

TidyRun tidyWork(const std::string& desktop, const std::string& folder, tidy::TidyOptions options,
                 Progress& progress) {
    TidyRun run;
    auto outcome = tidy::tidyDesktop(desktop, folder, options, progress);
    if (outcome) {
        run.moved = outcome->moved.size();
        for (const auto& f : outcome->failed) {
            logLine("tidy: " + f.message);
            if (run.failedCount < 5) run.failedNames += (run.failedNames.empty() ? "" : ", ") + f.name;
            ++run.failedCount;
        }
        if (run.failedCount > 5) run.failedNames += ", …";
    } else if (outcome.error().cancelled) {
        run.cancelled = true;
        logLine("tidy: cancelled; the desktop is as it was");
    } else {
        run.error = outcome.error().message;
        logLine("tidy: " + run.error);
    }
    if (!folder.empty()) run.records = scanFolder(folder);
    return run;
}

}  // namespace

std::string AppDelegate::tidyStorageFolder() const { return tidy::storageFolder(StorelocationPath()); }

std::string AppDelegate::tidyDestinationRefusal(const std::string& folder) {
    // Never into an empty mount point: the items would be hidden under the drive once it is back.
    if (auto st = vault::requireTidyFolder(s_.settings, folder); !st) return st.error().message;
    return {};
}

void AppDelegate::addDesktopNode(const std::shared_ptr<FBFileNode>& node) {
    const std::string kindName = node->fileKindType();
    if (kindName == kind::Folder)
        currentDesktopFoldArray.push_back(node);
    else if (kindName == kind::Pictures)
        currentDesktopPicArray.push_back(node);
    else if (kindName == kind::Archives)
        currentDesktopArchArray.push_back(node);
    else if (kindName == kind::Documents)
        currentDesktopDocArray.push_back(node);
    else
        currentDesktopotherArray.push_back(node);
    currentDesktopAllArray.push_back(node);
}

void AppDelegate::removeDesktopNode(const std::shared_ptr<FBFileNode>& node) {
    const std::string kindName = node->fileKindType();
    if (kindName == kind::Folder)
        eraseNode(currentDesktopFoldArray, node);
    else if (kindName == kind::Pictures)
        eraseNode(currentDesktopPicArray, node);
    else if (kindName == kind::Archives)
        eraseNode(currentDesktopArchArray, node);
    else if (kindName == kind::Documents)
        eraseNode(currentDesktopDocArray, node);
    else
        eraseNode(currentDesktopotherArray, node);
    eraseNode(currentDesktopAllArray, node);
    // The browser's rows follow at once, so that a double-click opens the item it shows.
    const auto shown = browseArray.size();
    eraseNode(browseArray, node);
    if (browseArray.size() != shown) ui_.reload(kBrowser);
}

void AppDelegate::addShawDesktopByPath(const std::string& path) { addDesktopNode(makeFileNode(path)); }

void AppDelegate::ScanDeskTopFileAndFolder() {
    const std::string folder = tidyStorageFolder();
    if (folder.empty()) return;
    for (const auto& node : scanFolder(folder)) addDesktopNode(node);
}

void AppDelegate::freshCurrentDeskTop() {
    for (auto* list :
         {&currentDesktopAllArray, &currentDesktopPicArray, &currentDesktopDocArray, &currentDesktopArchArray,
          &currentDesktopVidArray, &currentDesktopFoldArray, &currentDesktopotherArray})
        list->clear();
    ScanDeskTopFileAndFolder();
}

void AppDelegate::SortAllDataArray() {
    for (auto* list : {&currentDesktopAllArray, &currentDesktopPicArray, &currentDesktopDocArray,
                       &currentDesktopArchArray, &currentDesktopFoldArray, &currentDesktopotherArray})
        sortNewestFirst(*list);
}

void AppDelegate::askTidyLocation(bool thenTidy) {
    tidyAfterLocation_ = thenTidy;
    ui_.setHidden(outlet::startTidyView, false);
    ui_.showWindow(outlet::connectWindow);
}

void AppDelegate::ClickTidyAction() {
    if (tidyRunning_.load() || isBusy()) return;
    if (tidyStorageFolder().empty()) {
        // Nowhere to tidy to yet: the tidy runs once a location is chosen.
        askTidyLocation(true);
        return;
    }
    const std::string desktop = s_.paths.desktop().string();
    if (const std::string refusal = flows::tidyRefusal(s_.paths, StorelocationPath()); !refusal.empty()) {
        logLine("tidy: " + refusal);
        ui_.runAlert({"The Desktop could not be tidied.", refusal, " Ok ", "", ""});
        return;
    }
    tidyTask_.join();  // an automatic tidy has handed back already
    const std::string folder = tidyStorageFolder();
    if (const std::string why = tidyDestinationRefusal(folder); !why.empty()) {
        logLine("tidy: " + why);
        ui_.runAlert({"The Desktop could not be tidied.", why, " Ok ", "", ""});
        return;
    }
    tidyRunning_ = true;
    const auto options = flows::tidyOptions(prefs_, desktop, backupFileDataArray, DecrytedDataArray);
    // The work runs behind the progress window; the lists and alerts follow here, on the main thread.
    Progress progress;
    TidyRun run;
    runLongWork("Tidying the Desktop", progress, [&] { run = tidyWork(desktop, folder, options, progress); });
    tidyMovedCount_ = run.moved;
    RefreshFinishTableViewMainThreadHandle(std::move(run.records), run.failedCount, run.failedNames,
                                           run.error);
    tidyRunning_ = false;
}

void AppDelegate::StartTidyActThreader(std::string desktopPath) {
    // The automatic tidy: nobody watches it, so it has no window and nothing cancels it.
    const std::string folder = tidyStorageFolder();
    TidyRun run;
    run.error = tidyDestinationRefusal(folder);
    if (run.error.empty()) {
        tidy::TidyOptions options;
        // Read on the main thread, which owns the vault lists.
        s_.mainThread.performAndWait([&] {
            options = flows::tidyOptions(prefs_, desktopPath, backupFileDataArray, DecrytedDataArray);
        });
        run = tidyWork(desktopPath, folder, options, Progress::none());
    } else
        logLine("tidy: " + run.error);
    s_.mainThread.performAndWait([&] {
        tidyMovedCount_ = run.moved;
        RefreshFinishTableViewMainThreadHandle(run.records, run.failedCount, run.failedNames, run.error);
    });
    tidyRunning_ = false;
}

void AppDelegate::RefreshFinishTableViewMainThreadHandle(FileNodes records, std::size_t failedCount,
                                                         std::string failedNames, std::string error) {
    for (auto* list :
         {&currentDesktopAllArray, &currentDesktopPicArray, &currentDesktopDocArray, &currentDesktopArchArray,
          &currentDesktopVidArray, &currentDesktopFoldArray, &currentDesktopotherArray})
        list->clear();
    for (const auto& node : records) addDesktopNode(node);
    SortAllDataArray();
    showDesktopLists();
    if (tidyIsAutomatic_.exchange(false)) {
        // Nobody is at the screen for an alert: the notification says what happened.
        const std::string count =
            tidyMovedCount_ == 1 ? "1 item" : std::to_string(tidyMovedCount_) + " items";
        std::string body = count + " moved into the tidy folder.";
        if (!error.empty()) body = "The Desktop could not be tidied: " + error;
        if (failedCount > 0) body += " " + std::to_string(failedCount) + " stayed on the Desktop.";
        s_.notifier.remove(kAutoTidyNotification);
        s_.notifier.setResponseHandler([this](const std::string& identifier, const std::string& action) {
            userNotificationCenterDidActivateNotification(identifier, action);
        });
        std::vector<std::string> actions;
        if (tidyMovedCount_ > 0) actions.push_back("Undo");
        s_.notifier.schedule({kAutoTidyNotification, "Desktop tidied", body, actions});
        return;
    }
    if (!error.empty()) {
        ui_.runAlert({"The Desktop could not be tidied.", error, " Ok ", "", ""});
    } else if (failedCount > 0) {
        const std::string message =
            failedCount == 1
                ? "1 item could not be moved and stays on the Desktop."
                : std::to_string(failedCount) + " items could not be moved and stay on the Desktop.";
        ui_.runAlert({message, failedNames, " Ok ", "", ""});
    }
}

void AppDelegate::UndoLastTidy() {
    if (tidyRunning_.load() || isBusy()) return;  // the running tidy writes the log this would read
    const std::string folder = tidyStorageFolder();
    const auto outcome = tidy::undoLastTidy(folder);
    if (!outcome) {
        ui_.runAlert({"The last tidy could not be undone.", outcome.error().message, " Ok ", "", ""});
        return;
    }
    for (const auto& f : outcome->failed) logLine("undo tidy: " + f.message);
    freshCurrentDeskTop();
    SortAllDataArray();
    showDesktopLists();
    const std::size_t stayed = outcome->taken.size() + outcome->failed.size();
    if (stayed == 0) return;
    std::string names;
    for (const auto& n : outcome->taken) names += (names.empty() ? "" : ", ") + n;
    for (const auto& f : outcome->failed) names += (names.empty() ? "" : ", ") + f.name;
    const std::string message =
        stayed == 1 ? "1 item stays in the tidy folder: the Desktop has an item of its name again."
                    : std::to_string(stayed) +
                          " items stay in the tidy folder: the Desktop has items of their names again.";
    ui_.runAlert({message, names, " Ok ", "", ""});
}

void AppDelegate::autoTidyIfDue() {
    if (!ui_.state(outlet::autoCleanupSelectBtn)) return;
    const auto at = tidy::parseHourMinute(ui_.text(outlet::tidyTimePicker));
    if (!at) return;
    const auto now = s_.clock.now();
    const auto last = prefs_.lastAutoTidyDate();
    if (!last) {
        // Armed now: the first tidy is the next time the chosen moment comes round.
        prefs_.setLastAutoTidyDate(now);
        prefs_.save();
        return;
    }
    if (!tidy::autoTidyDue(last, now, at->first, at->second) || tidyRunning_.load()) return;
    prefs_.setLastAutoTidyDate(now);
    prefs_.save();
    // Files move by themselves only to a place the user chose, at a time the user saw beside the box.
    if (tidyStorageFolder().empty() || prefs_.tidyLocationFromVault()) {
        logLine("automatic tidy skipped: no tidy location is chosen");
        return;
    }
    if (!prefs_.hasTidyTime()) {
        logLine("automatic tidy skipped: its time was never set");
        return;
    }
    const std::string desktop = s_.paths.desktop().string();
    if (const std::string refusal = flows::tidyRefusal(s_.paths, StorelocationPath()); !refusal.empty()) {
        logLine("automatic tidy skipped: " + refusal);
        return;
    }
    tidyTask_.join();  // the last automatic tidy has handed back already
    tidyIsAutomatic_ = true;
    tidyRunning_ = true;
    tidyTask_.run([this, desktop] { StartTidyActThreader(desktop); });
}

void AppDelegate::showDesktopLists() {
    thePopViewController->SetTableControllerArray(currentDesktopAllArray);
    ui_.reload(PPopoverviewConterller::kTidyTable);
    // The browser shows the kind chosen last, from the top of the trail.
    parentArray.clear();
    browseArray = this->*browserList;
    ui_.reload(kBrowser);
}

// ---- Desktop browser --------------------------------------------------------------------------

void AppDelegate::showInBrowser(FileNodes AppDelegate::*list) {
    browserList = list;
    parentArray.clear();
    browseArray = this->*list;
    ui_.reload(kBrowser);
}

void AppDelegate::selectAllDesktop() { showInBrowser(&AppDelegate::currentDesktopAllArray); }
void AppDelegate::selectPictures() { showInBrowser(&AppDelegate::currentDesktopPicArray); }
void AppDelegate::selectDocuments() { showInBrowser(&AppDelegate::currentDesktopDocArray); }
void AppDelegate::selectArchives() { showInBrowser(&AppDelegate::currentDesktopArchArray); }
void AppDelegate::selectFolders() { showInBrowser(&AppDelegate::currentDesktopFoldArray); }
void AppDelegate::selectOthers() { showInBrowser(&AppDelegate::currentDesktopotherArray); }

void AppDelegate::imageBrowserCellWasDoubleClicked(std::size_t index) {
    if (index >= browseArray.size()) return;
    const auto node = browseArray[index];
    const std::string path = node->fullFilePath();
    if (node->fileKindType() != kind::Folder) {
        openOrOfferPath(s_.workspace, ui_, path);
        return;
    }
    FileNodes entries = scanFolder(path);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a->fileName() < b->fileName(); });
    parentArray.push_back(std::move(browseArray));
    browseArray = std::move(entries);
    ui_.reload(kBrowser);
}

void AppDelegate::ClickBackAction() {
    if (parentArray.empty()) return;
    browseArray = std::move(parentArray.back());
    parentArray.pop_back();
    ui_.reload(kBrowser);
}

}  // namespace vaultry

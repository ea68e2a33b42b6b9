#include <algorithm>
#include <filesystem>

#include "app/AppDelegate.h"
#include "app/PSTableCellView.h"
#include "app/ShowInFileManager.h"
#include "app/ShownLists.h"
#include "platform/Outlets.h"
#include "settings/Preferences.h"
#include "util/Log.h"
#include "vault/CopyManifest.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"
#include "vault/StorageLock.h"
#include "vault/VaultItems.h"
#include "vault/VaultList.h"

namespace vaultry {

using platform::AlertAnswer;

namespace {

constexpr const char* kTable = outlet::fileTableView;

// Only row views post the switch and reveal notifications, with themselves as the object.
PSTableCellView* rowOf(const Notification& n) {
    return static_cast<PSTableCellView*>(const_cast<void*>(n.object));
}

bool contains(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

}  // namespace

// ---- Table data source --------------------------------------------------------------------------

std::unique_ptr<PSTableCellView> AppDelegate::tableViewViewForTableColumnRow(std::string_view column,
                                                                             std::int64_t row) {
    if (row < 0) return nullptr;
    auto view = std::make_unique<PSTableCellView>(&nc, std::string(column));
    if (static_cast<std::uint64_t>(row) >= FileDataArray.size()) return view;
    // The state comes from the stored list, which is what the last save left.
    const auto stored = prefs_.decryptedRecords();
    view->fill(FileDataArray[static_cast<std::size_t>(row)], vault::RowLookup::take(storageFolder(), stored));
    return view;
}

std::vector<std::unique_ptr<PSTableCellView>> AppDelegate::tableViewViewsForAllRows(std::string_view column) {
    const auto stored = prefs_.decryptedRecords();
    const auto lookup = vault::RowLookup::take(storageFolder(), stored);
    std::vector<std::unique_ptr<PSTableCellView>> rows;
    rows.reserve(FileDataArray.size());
    for (const auto& record : FileDataArray) {
        rows.push_back(std::make_unique<PSTableCellView>(&nc, std::string(column)));
        rows.back()->fill(record, lookup);
    }
    return rows;
}

// ---- Row notifications ---------------------------------------------------------------------------

void AppDelegate::ClickSwtichNotificationHandle(const Notification& n) {
    auto* view = rowOf(n);
    if (!view || !view->filled) return;
    const std::string record = view->theFilePath();
    refreshVaultLists();
    if (!contains(backupFileDataArray, record)) return;  // removed meanwhile by another process
    if (view->bHidenEncypt) {
        // A decryption that failed does not pretend to have worked: the row shows what is so.
        decryptRecordForList(record);  // the copy manifest learns the copy as it is written
        if (contains(DecrytedDataArray, record))
            view->setUnlockedLook();
        else
            view->setLockedLook();
        return;
    }
    if (ui_.runAlert({"Are you sure you want to unhide the selected items ?",
                      "Unhide files are no longer protected by vaultry.", " Unhide ", " Cancel ", ""}) !=
        AlertAnswer::Default)
        return;
    showInFileManager(s_.workspace, ui_, record);
    unhideRecordForList(record);
}

void AppDelegate::ClickSwtichOffNotificationHandle(const Notification& n) {
    auto* view = rowOf(n);
    if (!view || !view->filled) return;
    if (ui_.runAlert({"Are you sure you want to Encrypt and hide the selected items ?",
                      "Make sure the item is not being modified, or it will cause a conflict.", " Encrypt ",
                      " Cancel ", ""}) != AlertAnswer::Default)
        return;
    const std::string record = view->theFilePath();
    refreshVaultLists();
    if (!contains(backupFileDataArray, record)) return;  // removed meanwhile by another process
    std::string error;
    if (!lockDecryptedRecord(record, &error)) {
        if (lastWorkCancelled_) return;  // as it was: still decrypted
        ui_.runAlert(
            {"The item could not be hidden again", error + ". Its decrypted copy was kept.", " Ok ", "", ""});
        return;
    }
    view->setLockedLook();
}

void AppDelegate::ClickShowInFinderNotificationHandle(const Notification& n) {
    auto* view = rowOf(n);
    if (!view || !view->filled) return;
    const auto copy = vault::safePlaintextCopy(storageFolder(), view->theFilePath());
    std::error_code ec;
    if (copy && std::filesystem::exists(std::filesystem::symlink_status(*copy, ec)))
        showInFileManager(s_.workspace, ui_, copy->string());
}

bool AppDelegate::lockDecryptedRecord(const std::string& record, std::string* error) {
    lastWorkCancelled_ = false;
    if (isBusy()) {
        if (error) *error = "other work is in progress";
        return false;
    }
    const std::string storage = storageFolder();
    std::string unavailable;
    if (!storage.empty() && !storageAvailable(storage, &unavailable)) {
        if (error) *error = unavailable;
        return false;
    }
    auto storageLock = vault::StorageLock::take(storage);
    if (!storageLock) {
        if (error) *error = storageLock.error().message;
        return false;
    }
    // The copy goes only when the list can say so afterwards.
    if (std::string why; !prefs_.save(&why)) {
        if (error) *error = "the settings could not be written (" + why + ")";
        return false;
    }
    vault::CopyManifest manifest =
        storage.empty() ? vault::CopyManifest{} : vault::CopyManifest::load(storage);
    const std::size_t before = manifest.size();
    const auto held = passPhrase_;  // the work's own hold, whatever happens meanwhile
    ShownLists lists(*this);
    const auto locked = flows::lockItem(record, storage, held ? std::optional(held->view()) : std::nullopt,
                                        manifest, lists, longWork());
    if (locked.outcome == flows::Outcome::Cancelled) {
        lastWorkCancelled_ = true;
        logLine("lock " + record + ": cancelled; the decrypted copy was kept");
        if (error) *error = "the locking was cancelled";
        return false;
    }
    if (locked.outcome != flows::Outcome::Done) {
        logLine("lock " + record + ": " + locked.message);
        if (error) *error = locked.message;
        return false;
    }
    if (locked.leftover)
        ui_.runAlert(
            {"Part of a decrypted copy could not be deleted",
             locked.leftover->string() + " is out of sight and is deleted again when Vaultry starts next.",
             " Ok ", "", ""});
    if (manifest.size() != before)
        if (auto st = manifest.save(storage); !st) logLine(st.error().message);
    return true;
}

void AppDelegate::rememberDecryptedCopy(const std::string& record) {
    // Without a note the copy counts as changed when it is locked, which costs time, not data.
    if (auto st = vault::rememberCopy(storageFolder(), record); !st) logLine(st.error().message);
}

// ---- Remove from the list --------------------------------------------------------------------

void AppDelegate::RemoveFileFromListAction() {
    const std::int64_t row = ui_.clickedRow(kTable);
    if (row < 0 || static_cast<std::uint64_t>(row) >= FileDataArray.size()) return;
    if (ui_.runAlert({"Are you sure you want to remove the selected items from Vaultry?", "", " Remove ",
                      " Cancel ", ""}) != AlertAnswer::Default)
        return;
    const std::string record = FileDataArray[static_cast<std::size_t>(row)];
    refreshVaultLists();
    if (!contains(backupFileDataArray, record)) return;  // removed meanwhile by another process
    const std::string storage = storageFolder();
    auto storageLock = vault::StorageLock::take(storage);
    if (!storageLock) {
        ui_.runAlert({"The item could not be removed", storageLock.error().message + ".", " Ok ", "", ""});
        return;
    }
    // An archive that another record names too is not this record's to unpack or delete.
    const std::string claimant = vault::archiveClaimant(record, backupFileDataArray);
    if (!claimant.empty())
        logLine("remove " + record + ": its archive is also named by " + claimant + "; it stays");
    const bool encrypted = vault::isEncrypted(record) && claimant.empty();
    if (encrypted && !storage.empty() && !storageAvailable(storage)) return;
    // Its archive leaves the integrity record too, which only the pass phrase can seal. (One that
    // must be restored from its archive is refused below without it, and says why.)
    if (encrypted && !storage.empty() && !listPassPhrase() &&
        std::filesystem::exists(vault::archivePath(storage, record)) &&
        !vault::removalNeedsArchive(storage, record, contains(DecrytedDataArray, record))) {
        ui_.showWindow(outlet::enterPDWindow);
        return;
    }
    // Nothing is restored unless the lists can be written afterwards: a record that stays listed
    // would count as locked while its plaintext lay restored beside it.
    if (!saveRecords()) {
        ui_.runAlert({"The item could not be removed",
                      "The settings could not be written. Nothing was removed from Vaultry.", " Ok ", "",
                      ""});
        return;
    }
    vault::CopyManifest manifest =
        storage.empty() ? vault::CopyManifest{} : vault::CopyManifest::load(storage);
    const std::size_t before = manifest.size();
    ShownLists lists(*this);
    const auto removed = flows::removeItem(record, storage, contains(DecrytedDataArray, record),
                                           listPassPhrase(), manifest, lists);
    ui_.reload(kTable);
    if (!removed.problem.empty()) logLine("remove " + record + ": " + removed.problem);
    if (removed.outcome == flows::Outcome::NotListed) {
        ui_.runAlert({"The item could not be removed",
                      "The settings could not be written. Nothing was removed." +
                          (removed.problem.empty() ? std::string() : " " + removed.problem + "."),
                      " Ok ", "", ""});
        return;
    }
    if (removed.outcome != flows::Outcome::Done) {
        ui_.runAlert({"The item could not be restored",
                      removed.message + ". Nothing was removed from Vaultry.", " Ok ", "", ""});
        return;
    }
    if (encrypted && !removed.restored) logLine("remove " + record + ": no archive to restore from");
    if (manifest.size() != before)
        if (auto st = manifest.save(storage); !st) logLine(st.error().message);
}

// ---- Filters ---------------------------------------------------------------------------------------

void AppDelegate::applyVaultFilter(vault::VaultFilter filter) {
    shownFilter_ = static_cast<int>(filter);
    FileDataArray = vault::filterRecords(backupFileDataArray, filter);
    ui_.reload(kTable);
}

void AppDelegate::SelectAllEncryptedFilesAction() { applyVaultFilter(vault::VaultFilter::All); }
void AppDelegate::SelectEncryptedImagesAction() { applyVaultFilter(vault::VaultFilter::Images); }
void AppDelegate::SelectEncryptedDocsAction() { applyVaultFilter(vault::VaultFilter::Docs); }
void AppDelegate::SelectEncryptedMediasAction() { applyVaultFilter(vault::VaultFilter::Medias); }
void AppDelegate::SelectEncryptedFoldersAction() { applyVaultFilter(vault::VaultFilter::Folders); }
void AppDelegate::SelectEncryptedOtherAction() { applyVaultFilter(vault::VaultFilter::Other); }

// ---- Quit and close ------------------------------------------------------------------------------

void AppDelegate::QuiteVaultryAction() { ui_.terminate(); }

AlertAnswer AppDelegate::visibleItemsOffer() {
    refreshVaultLists();
    if (DecrytedDataArray.empty()) {
        ui_.hideWindow(outlet::thefileManageWindow);
        return AlertAnswer::Default;
    }
    const AlertAnswer answer = ui_.runAlert(
        {"Some items are visible", "Do you want to hide all the visible items before quitting Vaultry ?",
         " Hide and Quit", " Cancel ", " Quit "});
    if (answer == AlertAnswer::Alternate) return answer;
    ui_.hideWindow(outlet::thefileManageWindow);
    if (answer == AlertAnswer::Other) return answer;
    // Items that cannot be locked (an edited copy that cannot be saved) stay visible and listed.
    std::string failures;
    bool cancelled = false;
    const auto entries = DecrytedDataArray;
    for (const auto& record : entries) {
        std::string error;
        if (lockDecryptedRecord(record, &error)) continue;
        // Stopped by its user: the rest stays visible and nothing quits.
        if ((cancelled = lastWorkCancelled_)) break;
        failures += (failures.empty() ? "" : "\n") + error;
    }
    saveDecrypted();
    ui_.reload(kTable);  // the rows show what was locked
    if (cancelled) return AlertAnswer::Alternate;
    if (!failures.empty())
        ui_.runAlert({"Some items could not be hidden again",
                      failures + "\nTheir decrypted copies were kept.", " Ok ", "", ""});
    return answer;
}

bool AppDelegate::windowShouldClose() {
    const AlertAnswer answer = visibleItemsOffer();
    SelectAllEncryptedFilesAction();
    return answer != AlertAnswer::Alternate;
}

// ---- Bridges to the engine's flows -----------------------------------------------------------------

bool AppDelegate::decryptRecordForList(const std::string& record) {
    return DecryptFileFolderFunction(record);
}
void AppDelegate::unhideRecordForList(const std::string& path) { UnHiddenFileFolderFunction(path); }
std::optional<std::string_view> AppDelegate::listPassPhrase() const {
    if (!passPhraseKnown()) return std::nullopt;
    return passPhrase();
}

}  // namespace vaultry

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/AppDelegate.h"
#include "app/ShowInFileManager.h"
#include "app/ShownLists.h"
#include "desktop/FileKind.h"
#include "desktop/TidyLocation.h"
#include "flows/Storage.h"
#include "platform/Outlets.h"
#include "util/Log.h"
#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"
#include "vault/Rekey.h"
#include "vault/StorageFolder.h"
#include "vault/StorageLock.h"
#include "vault/VaultItems.h"

namespace vaultry {

namespace fs = std::filesystem;
using platform::Alert;
using platform::AlertAnswer;
using platform::OpenPanel;

namespace {

// " \n path1 \n path2": each chosen item after a line break, as the confirmations list them.
std::string listText(const std::vector<std::string>& paths) {
    std::string text;
    for (const auto& p : paths) text = text + " \n " + p;
    return text;
}

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() != fs::file_type::not_found && !ec;
}

const char* kNotAvailable = "The selected item is not available";

// A chooser of one folder, starting at directory.
OpenPanel folderPanel(const std::filesystem::path& directory, std::string message = {}) {
    OpenPanel panel;
    panel.chooseFiles = false;
    panel.chooseDirectories = true;
    panel.message = std::move(message);
    panel.directory = directory.string();
    return panel;
}

// A chooser of any number of files and folders, starting at directory.
OpenPanel itemsPanel(const std::filesystem::path& directory, std::string message) {
    OpenPanel panel;
    panel.chooseFiles = true;
    panel.chooseDirectories = true;
    panel.multipleSelection = true;
    panel.message = std::move(message);
    panel.directory = directory.string();
    return panel;
}

}  // namespace

void AppDelegate::forgetPassPhrase() {
    passPhrase_.reset();
    vault::ArchiveManifest::forgetKeys();
}

std::string AppDelegate::storageFolder() const { return prefs_.storePath().value_or(""); }

bool AppDelegate::holdsArchives() const {
    const auto records = prefs_.records();
    return std::any_of(records.begin(), records.end(), [](const auto& r) { return vault::isEncrypted(r); });
}

bool AppDelegate::storageAvailable(const std::string& storage, std::string* why) {
    const auto st = vault::requireStorage(s_.settings, storage);
    if (st) return true;
    logLine(st.error().message);
    if (why)
        *why = st.error().message;
    else
        ui_.runAlert(Alert{st.error().message, "", " Ok ", "", ""});
    return false;
}

// ---- Hide and unhide ----------------------------------------------------------------------

void AppDelegate::HideFileAction() {
    refreshVaultLists();
    if (offerNewPassword()) return;
    const auto chosen =
        ui_.runOpenPanel(itemsPanel(s_.paths.documents(), "Choose the file(s) or folder(s) to hide."));
    if (!chosen || chosen->empty()) return;
    if (ui_.runAlert(Alert{"Are you sure you want to hide the selected items ?", listText(*chosen), " Hide ",
                           " Cancel ", ""}) != AlertAnswer::Default)
        return;
    std::vector<std::string> failed;
    for (const auto& path : *chosen) {
        // An item whose mark could not be set is not recorded: the vault would claim to hide it.
        if (!HiddenFileFolderFunction(path)) {
            failed.push_back(path);
            continue;
        }
        addVaultRecord(path, vault::RecordKind::Hidden);
        if (auto grant = s_.bookmarks.create(path)) prefs_.setItemGrant(path, *grant);
    }
    saveRecords();
    ui_.reload(outlet::fileTableView);
    if (!failed.empty())
        ui_.runAlert(Alert{"These items could not be hidden.", listText(failed), " Ok ", "", ""});
}

bool AppDelegate::HiddenFileFolderFunction(const std::string& path) {
    if (!present(path)) return false;
    return s_.hiddenFlag.setHidden(path, true);
}

void AppDelegate::UnHiddenFileFolderFunction(const std::string& path) {
    // An item that is gone needs no mark cleared; one that stays hidden stays in the list too, so
    // that it is not lost from sight.
    if (present(path) && !s_.hiddenFlag.setHidden(path, false)) {
        ui_.runAlert(Alert{"This item could not be shown again.", listText({path}), " Ok ", "", ""});
        return;
    }
    removeVaultRecord(path, true);
    saveRecords();
    ui_.reload(outlet::fileTableView);
}

// ---- Encrypt and decrypt ------------------------------------------------------------------

void AppDelegate::EncryptFileAction() {
    if (isBusy()) return;
    ui_.activateApp();
    refreshVaultLists();
    if (offerNewPassword()) return;
    if (!prefs_.hasStorePath()) {
        askForStorageFolder([this] { EncryptFileAction(); });
        return;
    }
    if (!passPhraseKnown()) {
        ui_.showWindow(outlet::enterPDWindow);
        return;
    }
    const auto chosen = ui_.runOpenPanel(
        itemsPanel(s_.paths.documents(), "Choose the file(s) or folder(s) to encypt and hide."));
    if (!chosen || chosen->empty()) return;
    for (const auto& path : *chosen)
        if (auto grant = s_.bookmarks.create(path)) prefs_.setItemGrant(path, *grant);
    if (ui_.runAlert(Alert{"Are you sure you want to Encrypt the selected items ?", listText(*chosen),
                           " Encrypt ", " Cancel ", ""}) != AlertAnswer::Default)
        return;
    vault::KeysAhead ahead;  // the keys of the items to come, on every core
    for (std::size_t i = 0; i < chosen->size(); ++i)
        vault::deriveAheadToWrite(ahead, i, vault::archiveKindToWrite((*chosen)[i]), passPhrase_->view());
    ahead.start();
    for (std::size_t i = 0; i < chosen->size(); ++i) {
        ahead.reached(i);
        if (!EncryptFileFolderFunction((*chosen)[i]) && lastWorkCancelled_) break;  // the rest stays as it is
    }
    saveRecords();
    ui_.reload(outlet::fileTableView);
}

bool AppDelegate::EncryptFileFolderFunction(const std::string& path) {
    lastWorkCancelled_ = false;
    if (isBusy()) return false;
    const std::string storage = storageFolder();
    if (storage.empty()) {
        askForStorageFolder({});
        return false;
    }
    if (!passPhraseKnown()) {
        ui_.showWindow(outlet::enterPDWindow);
        return false;
    }
    if (!storageAvailable(storage)) return false;
    const auto tell = [this](const std::string& title, const std::string& text) {
        ui_.runAlert(Alert{title, text, " Ok ", "", ""});
        return false;
    };
    // No password change or other vault work of another process runs meanwhile.
    auto storageLock = vault::StorageLock::take(storage);
    if (!storageLock) return tell(kNotAvailable, storageLock.error().message);
    const auto held = passPhrase_;  // the work's own hold, whatever happens meanwhile
    ShownLists lists(*this);
    const auto done =
        flows::encryptItem(path, storage, held->view(), lists, prefs_, s_.bookmarks, longWork());
    if (!done.problem.empty()) logLine(done.problem);
    switch (done.outcome) {
        case flows::Outcome::Done:
            return true;
        case flows::Outcome::Taken:
            return tell("An archive with this name is already in the storage folder.", done.record);
        case flows::Outcome::Cancelled:
            lastWorkCancelled_ = true;
            logLine("encrypt " + path + ": cancelled; nothing was changed");
            return false;
        case flows::Outcome::NotListed:
            return tell("The item could not be recorded in the vault.",
                        path + "\nThe settings could not be written. The item was left as it was.");
        case flows::Outcome::Kept:
            return tell("The item was kept where it is", done.message + ". It was not encrypted.");
        case flows::Outcome::KeptBoth:
            return tell("The item was kept where it is",
                        done.message +
                            ". Its archive was kept too, since the settings could not be written; Vaultry "
                            "finishes the encryption at its next start.");
        default:
            return tell(kNotAvailable, done.message);
    }
}

bool AppDelegate::DecryptFileFolderFunction(const std::string& record) {
    lastWorkCancelled_ = false;
    if (isBusy()) return false;
    const std::string storage = storageFolder();
    if (storage.empty()) {
        askForStorageFolder({});
        return false;
    }
    if (!passPhraseKnown()) {
        ui_.showWindow(outlet::enterPDWindow);
        return false;
    }
    if (!storageAvailable(storage)) return false;
    const auto held = passPhrase_;  // the work's own hold, whatever happens meanwhile
    ShownLists lists(*this);
    const auto done = flows::decryptItem(record, storage, held->view(), lists, longWork());
    switch (done.outcome) {
        case flows::Outcome::Done:
            if (!done.problem.empty()) logLine(done.problem);
            showInFileManager(s_.workspace, ui_, done.copy);
            return true;
        case flows::Outcome::Cancelled:
            lastWorkCancelled_ = true;
            logLine("decrypt " + record + ": cancelled; nothing was written");
            return false;
        case flows::Outcome::NotListed:
            ui_.runAlert(
                Alert{"The item could not be decrypted.",
                      record + "\nThe settings could not be written. " +
                          (done.problem.empty() ? std::string("The decrypted copy was removed again.")
                                                : done.problem + "."),
                      " Ok ", "", ""});
            return false;
        default:
            ui_.runAlert(Alert{kNotAvailable, done.message, " Ok ", "", ""});
            return false;
    }
}

void AppDelegate::VerifyArchivesAction() {
    const std::string storage = storageFolder();
    if (storage.empty()) {
        ui_.runAlert(Alert{"There is no storage folder.",
                           "Nothing is encrypted yet, so there are no archives to verify.", " Ok ", "", ""});
        return;
    }
    if (!passPhraseKnown()) {
        ui_.showWindow(outlet::enterPDWindow);
        return;
    }
    if (!storageAvailable(storage)) return;
    refreshVaultLists();
    // The check vaultry-cli's `vault verify` makes: every record, every manifest entry.
    auto bad = vault::checkVault(storage, prefs_.records(), passPhrase());
    if (!bad) {
        ui_.runAlert(Alert{"The archives could not be checked.", bad.error().message, " Ok ", "", ""});
    } else if (bad->empty()) {
        ui_.runAlert(Alert{"Every archive is intact.",
                           std::to_string(vault::archivesIn(storage).size()) + " archives checked.", " Ok ",
                           "", ""});
    } else {
        ui_.runAlert(
            Alert{"Some archives were changed or cannot be opened.", listText(*bad), " Ok ", "", ""});
    }
}

void AppDelegate::autoLockDecrypted(vault::LockTrigger trigger) {
    prefs_.reload();
    if (trigger != vault::LockTrigger::Idle && !prefs_.lockOnSessionLock()) return;
    if (isBusy()) {
        deferredAutoLock_ = trigger;  // locked as soon as the work in progress ends
        return;
    }
    vault::AutoLockOutcome outcome;
    refreshVaultLists();  // another process may have decrypted or locked items meanwhile
    const std::vector<std::string> open = DecrytedDataArray;
    bool stopped = false;
    for (const auto& record : open) {
        std::string why = "the locking was cancelled";
        if (!stopped && lockDecryptedRecord(record, &why))
            outcome.locked.push_back(vault::displayName(record));
        else
            outcome.kept.emplace_back(vault::displayName(record), why);
        stopped = stopped || lastWorkCancelled_;
    }
    const std::string text = vault::autoLockMessage(trigger, outcome);
    if (text.empty()) return;
    ui_.reload(outlet::fileTableView);
    s_.notifier.schedule({"vaultry.autolock", "Vaultry locked your decrypted items", text, {}});
}

// ---- Storage location ---------------------------------------------------------------------

void AppDelegate::ChooseEncryptedFileStoreLocation(std::function<void()> then) {
    ui_.beginSheet(outlet::CreatePWWindow,
                   folderPanel(s_.paths.documents(), "Choose the location to store encypted files."),
                   [this, then = std::move(then)](std::optional<platform::Ui::Paths> chosen) {
                       openPanelDidEnd8(chosen);
                       if (then) then();
                   });
}

void AppDelegate::askForStorageFolder(std::function<void()> then) {
    ui_.beginSheet(outlet::window,
                   folderPanel(s_.paths.documents(), "Choose the location to store encypted files."),
                   [this, then = std::move(then)](std::optional<platform::Ui::Paths> chosen) {
                       openPanelDidEnd8(chosen);
                       if (!storageFolder().empty() && then) then();
                   });
}

void AppDelegate::ChangeStorePathAction() {
    ui_.beginSheet(outlet::preferWindows, folderPanel(s_.paths.documents()),
                   [this](std::optional<platform::Ui::Paths> chosen) { openPanelDidEnd5(chosen); });
}

void AppDelegate::ChooseStartLocationAction() {
    ui_.beginSheet(outlet::connectWindow, folderPanel(s_.paths.desktop()),
                   [this](std::optional<platform::Ui::Paths> chosen) { openPanelDidEnd3(chosen); });
}

namespace {
bool blankRuleHolds(platform::Ui& ui, const std::string& chosen) {
    if (chosen.find(' ') == std::string::npos) return true;
    ui.runAlert(Alert{"Do not include spaces or other invalid characters in the selected storage path.", "",
                      " Ok ", "", ""});
    return false;
}

}  // namespace

void AppDelegate::refuseStorageChange(const std::string& why) {
    ui_.runAlert(Alert{"The storage folder was not changed.", why + ".", " Ok ", "", ""});
}

void AppDelegate::changeStorageFolder(const std::string& folder) {
    if (isBusy()) return;
    const std::string current = storageFolder();
    const std::string storage = folder + "/vaultry.data";
    // A vault that must move but whose folder is not there is told as every vault action tells it.
    if (flows::storageMoves(prefs_, folder) && !storageAvailable(current)) return;
    auto switched =
        flows::switchStorage(prefs_, s_.bookmarks, s_.spawn, folder,
                             [this](const std::string& title, const std::function<void(Progress&)>& work) {
                                 storageMoveRunning_ = true;
                                 Progress progress;
                                 runLongWork(title, progress, [&] { work(progress); });
                                 storageMoveRunning_ = false;
                             });
    if (!switched && switched.error().cancelled) {
        logLine("storage move to " + storage + " cancelled; the vault stays in " + current);
        return;
    }
    if (!switched) return refuseStorageChange(switched.error().message);
    ui_.setText(outlet::StorePathlab, switched->storage);
    if (!switched->iconProblem.empty()) logLine(switched->iconProblem);
    if (const auto& left = switched->leftInOld; left && !left->empty())
        ui_.runAlert(Alert{"The old storage folder was kept.",
                           "Everything was copied to " + storage + ". " + current +
                               " still holds its own copy of:" + listText(*left) +
                               " \nRemove it when you no longer need it.",
                           " Ok ", "", ""});
}

void AppDelegate::forgetIntegrityOfOtherFolder(const std::string& storage, bool moved) {
    // A new vault without archives: the integrity record of the folder left behind is not its.
    std::error_code ec;
    if (moved || fs::exists(fs::path(storage) / vault::ArchiveManifest::kFileName, ec)) return;
    prefs_.restore(Pref::IntegrityIdentity, std::nullopt);
    prefs_.restore(Pref::IntegrityIdentityNext, std::nullopt);
}

void AppDelegate::openPanelDidEnd8(const std::optional<platform::Ui::Paths>& chosen) {
    if (!chosen || chosen->size() != 1) return;
    const std::string& folder = chosen->front();
    if (!blankRuleHolds(ui_, folder)) return;
    // An existing vault is moved, never repointed at a folder without its archives.
    if (const std::string current = storageFolder();
        !current.empty() && (present(current) || holdsArchives())) {
        ui_.hideWindow(outlet::CreatePWWindow);
        changeStorageFolder(folder);
        return;
    }
    const std::string storage = folder + "/vaultry.data";
    auto grant = s_.bookmarks.create(folder);
    if (!grant) return;
    if (auto st = vault::ensurePrivateFolder(storage); !st) logLine(st.error().message);
    if (auto id = vault::markStorageFolder(storage))
        prefs_.setStorageFolderId(*id);
    else
        logLine(id.error().message);
    forgetIntegrityOfOtherFolder(storage, false);
    prefs_.setStoreParentGrant(*grant);
    prefs_.setStorePath(storage);
    prefs_.save();
    ui_.setText(outlet::StorePathlab, storage);
    if (auto st = vault::giveFolderIcon(storage, s_.spawn); !st) logLine(st.error().message);
    ui_.hideWindow(outlet::CreatePWWindow);
}

void AppDelegate::openPanelDidEnd5(const std::optional<platform::Ui::Paths>& chosen) {
    if (!chosen || chosen->size() != 1) return;
    const std::string& folder = chosen->front();
    if (!blankRuleHolds(ui_, folder)) return;
    // An existing vault moves: everything is copied and checked, and only then does the setting
    // name the new folder; the old folder is left as it is.
    changeStorageFolder(folder);
}

void AppDelegate::openPanelDidEnd3(const std::optional<platform::Ui::Paths>& chosen) {
    if (!chosen || chosen->size() != 1) return;
    const std::string& folder = chosen->front();
    logLine(folder);
    // Tidied items stay out of the vault's private folder.
    if (const std::string storage = storageFolder(); tidy::insideStorage(folder, storage)) {
        ui_.runAlert({"Tidied items cannot go into the vault's storage folder.",
                      "Choose a folder outside " + storage + ".", " Ok ", "", ""});
        return;
    }
    auto grant = s_.bookmarks.create(folder);
    if (!grant) return;
    // Items tidied so far go along to the new place, with the log that undoes the last tidy.
    if (const std::string tell = tidy::moveTidyFolder(StorelocationPath(), folder); !tell.empty())
        ui_.runAlert({"The tidy folder was left where it was.", tell, " Ok ", "", ""});
    setStorelocationPath(folder);
    prefs_.setTidyLocationGrant(*grant);
    prefs_.setTidyLocationFromVault(false);
    prefs_.save();
    ui_.setImage(outlet::tidybutton, "startlocationnombtn.png");
    ui_.hideWindow(outlet::connectWindow);
    // Asked for by a tidy, the tidy goes on now; asked for by the automatic tidy's box, nothing moves yet.
    if (std::exchange(tidyAfterLocation_, false)) ClickTidyAction();
}

}  // namespace vaultry

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/AppDelegate.h"
#include "app/PasswordVerifier.h"
#include "app/SettingsKeys.h"
#include "desktop/FileKind.h"
#include "platform/Log.h"
#include "vault/Archive.h"
#include "vault/Records.h"
#include "vault/StorageFolder.h"
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

std::string AppDelegate::storageFolder() const {
    return settings_.string(key::EncyptedStorePath).value_or("");
}

// ---- Hide and unhide ----------------------------------------------------------------------

void AppDelegate::HideFileAction() {
    if (!settings_.contains(key::VaultryPassword)) {
        ui_.showWindow("CreatePWWindow");
        return;
    }
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
        addVaultRecord(path);
        if (auto grant = s_.bookmarks.create(path)) settings_.set(path, *grant);
    }
    saveRecords();
    ui_.reload("fileTableView");
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
    ui_.reload("fileTableView");
}

// ---- Encrypt and decrypt ------------------------------------------------------------------

void AppDelegate::EncryptFileAction() {
    ui_.activateApp();
    if (!settings_.contains(key::VaultryPassword)) {
        ui_.showWindow("CreatePWWindow");
        return;
    }
    if (!settings_.contains(key::EncyptedStorePath)) {
        askForStorageFolder([this] { EncryptFileAction(); });
        return;
    }
    if (!passPhraseKnown()) {
        ui_.showWindow("enterPDWindow");
        return;
    }
    const auto chosen = ui_.runOpenPanel(
        itemsPanel(s_.paths.documents(), "Choose the file(s) or folder(s) to encypt and hide."));
    if (!chosen || chosen->empty()) return;
    for (const auto& path : *chosen)
        if (auto grant = s_.bookmarks.create(path)) settings_.set(path, *grant);
    if (ui_.runAlert(Alert{"Are you sure you want to Encrypt the selected items ?", listText(*chosen),
                           " Encrypt ", " Cancel ", ""}) != AlertAnswer::Default)
        return;
    for (const auto& path : *chosen) EncryptFileFolderFunction(path);
    saveRecords();
    ui_.reload("fileTableView");
}

bool AppDelegate::EncryptFileFolderFunction(const std::string& path) {
    const std::string storage = storageFolder();
    if (storage.empty()) {
        askForStorageFolder({});
        return false;
    }
    if (!passPhraseKnown()) {
        ui_.showWindow("enterPDWindow");
        return false;
    }
    const auto notAvailable = [this](const std::string& why) {
        ui_.runAlert(Alert{kNotAvailable, why, " Ok ", "", ""});
        return false;
    };
    auto plan = vault::planArchive(path, storage);
    if (!plan) return notAvailable(plan.error().message);
    if (present(plan->archive)) {
        // Never overwritten: it holds another item's data.
        ui_.runAlert(Alert{"An archive with this name is already in the storage folder.",
                           plan->archive.string(), " Ok ", "", ""});
        return false;
    }
    // Written under a temporary name, flushed, renamed; then read back completely before the
    // original may go.
    if (auto st = vault::writeArchive(*plan, passPhrase()); !st) return notAvailable(st.error().message);
    const bool folder = plan->folder;
    const std::string& record = plan->record;
    const std::string parent = plan->item.parent_path().string();
    const fs::path archive = plan->archive;

    if (!folder) {
        const std::string ext = pathExtension(path);
        std::optional<platform::Thumbnailer::Size> size{platform::Thumbnailer::Size{45, 60}};
        if (GetImageType(ext.c_str()) >= 0) {
            const auto picture = s_.thumbnailer.imageSize(path);
            if (!picture)
                size.reset();
            else if (picture->width > picture->height)
                size = platform::Thumbnailer::Size{60, 42};
        }
        if (size) {
            const fs::path libdata = fs::path(storage) / "libdata";
            if (vault::ensurePrivateFolder(libdata))
                s_.thumbnailer.writeThumbnail(path, vault::thumbnailPath(storage, record), *size);
        }
    }
    addVaultRecord(record);
    for (const std::string& granted : {archive.string(), path, parent})
        if (auto grant = s_.bookmarks.create(granted)) settings_.set(granted, *grant);
    // Recorded before the original goes, so that a crash leaves nothing unaccounted for.
    saveRecords();
    if (auto st = vault::removeOriginal(*plan); !st) logLine(st.error().message);
    return true;
}

bool AppDelegate::DecryptFileFolderFunction(const std::string& record) {
    const std::string storage = storageFolder();
    if (storage.empty()) {
        askForStorageFolder({});
        return false;
    }
    if (!passPhraseKnown()) {
        ui_.showWindow("enterPDWindow");
        return false;
    }
    auto copy = vault::decryptRecord(record, storage, passPhrase());
    if (!copy) {
        ui_.runAlert(Alert{kNotAvailable, copy.error().message, " Ok ", "", ""});
        return false;
    }
    s_.workspace.reveal(*copy);
    markDecrypted(record);
    saveDecrypted();
    return true;
}

// ---- Storage location ---------------------------------------------------------------------

void AppDelegate::ChooseEncryptedFileStoreLocation() {
    ui_.beginSheet("CreatePWWindow",
                   folderPanel(s_.paths.documents(), "Choose the location to store encypted files."),
                   [this](std::optional<platform::Ui::Paths> chosen) { openPanelDidEnd8(chosen); });
}

void AppDelegate::askForStorageFolder(std::function<void()> then) {
    ui_.beginSheet("window",
                   folderPanel(s_.paths.documents(), "Choose the location to store encypted files."),
                   [this, then = std::move(then)](std::optional<platform::Ui::Paths> chosen) {
                       openPanelDidEnd8(chosen);
                       if (!storageFolder().empty() && then) then();
                   });
}

void AppDelegate::ChangeStorePathAction() {
    ui_.beginSheet("preferWindows", folderPanel(s_.paths.documents()),
                   [this](std::optional<platform::Ui::Paths> chosen) { openPanelDidEnd5(chosen); });
}

void AppDelegate::ChooseStartLocationAction() {
    ui_.beginSheet("connectWindow", folderPanel(s_.paths.desktop()),
                   [this](std::optional<platform::Ui::Paths> chosen) { openPanelDidEnd3(chosen); });
}

namespace {
bool blankRuleHolds(platform::Ui& ui, const std::string& chosen) {
    if (chosen.find(' ') == std::string::npos) return true;
    ui.runAlert(Alert{"Do not include spaces or other invalid characters in the selected storage path.", "",
                      " Ok ", "", ""});
    return false;
}

// Every regular file under `from` has a byte-identical copy at the same place under `to`; the
// names of those that do not.
std::vector<std::string> unverifiedCopies(const fs::path& from, const fs::path& to) {
    std::vector<std::string> problems;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(from, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const fs::path rel = fs::relative(it->path(), from, ec);
        const std::string name = rel.filename().string();
        // Temporary and journal files stay behind; the folder's icon entry is made anew for it.
        if (name.rfind(".vaultry-", 0) == 0 || name == ".directory") continue;
        std::ifstream a(it->path(), std::ios::binary), b(to / rel, std::ios::binary);
        bool same = a && b;
        std::vector<char> x(1 << 15), y(1 << 15);
        while (same && a) {
            a.read(x.data(), static_cast<std::streamsize>(x.size()));
            b.read(y.data(), static_cast<std::streamsize>(y.size()));
            same = a.gcount() == b.gcount() && std::equal(x.begin(), x.begin() + a.gcount(), y.begin());
        }
        if (same) same = b.peek() == std::char_traits<char>::eof();
        if (!same) problems.push_back(rel.string() + ": the copy differs from the original");
    }
    if (ec) problems.push_back(from.string() + ": " + ec.message());
    return problems;
}

}  // namespace

void AppDelegate::moveStorageFolder(const std::string& folder) {
    if (storageMoveRunning_) return;
    const std::string current = storageFolder();
    const std::string storage = folder + "/vaultry.data";
    if (fs::path(storage) == fs::path(current)) return;
    if (storageMoveThreader.joinable()) storageMoveThreader.join();
    storageMoveRunning_ = true;
    ui_.setText("storageMoveLab", "Moving the vault to " + storage + " …");
    ui_.showWindow("storageMoveWindow");
    storageMoveThreader = std::thread([this, current, storage] {
        std::vector<std::string> problems;
        if (auto st = vault::ensurePrivateFolder(storage); !st) problems.push_back(st.error().message);
        if (problems.empty()) problems = vault::copyStorageFolder(current, storage);
        if (problems.empty()) problems = unverifiedCopies(current, storage);
        s_.mainThread.performAndWait([&] { storageMoveFinished(storage, problems); });
    });
}

void AppDelegate::storageMoveFinished(const std::string& storage, const std::vector<std::string>& problems) {
    storageMoveRunning_ = false;
    ui_.hideWindow("storageMoveWindow");
    if (!problems.empty()) {
        // The vault stays where it was; nothing of it is read from the new folder.
        ui_.runAlert(Alert{"The vault could not be moved; it stays where it was.", listText(problems), " Ok ",
                           "", ""});
        return;
    }
    const std::string folder = fs::path(storage).parent_path().string();
    auto grant = s_.bookmarks.create(folder);
    if (!grant) return;
    setStorelocationPath(storage);
    settings_.set(key::EncyptedFatherStorePath, *grant);
    settings_.set(key::EncyptedStorePath, storage);
    if (auto st = settings_.flush(); !st) logLine("settings: " + st.error().message);
    ui_.setText("StorePathlab", storage);
    vault::giveFolderIcon(storage, s_.spawn);
}

void AppDelegate::openPanelDidEnd8(const std::optional<platform::Ui::Paths>& chosen) {
    if (!chosen || chosen->size() != 1) return;
    const std::string& folder = chosen->front();
    if (!blankRuleHolds(ui_, folder)) return;
    // An existing vault is moved, never repointed at a folder without its archives.
    if (const std::string current = storageFolder(); !current.empty() && present(current)) {
        ui_.hideWindow("CreatePWWindow");
        moveStorageFolder(folder);
        return;
    }
    const std::string storage = folder + "/vaultry.data";
    // The shared location is the storage folder, as start-up sets it next time.
    setStorelocationPath(storage);
    auto grant = s_.bookmarks.create(folder);
    if (!grant) return;
    settings_.set(key::EncyptedFatherStorePath, *grant);
    settings_.set(key::EncyptedStorePath, storage);
    if (auto st = settings_.flush(); !st) logLine("settings: " + st.error().message);
    ui_.setText("StorePathlab", storage);
    if (auto st = vault::ensurePrivateFolder(storage); !st) logLine(st.error().message);
    vault::giveFolderIcon(storage, s_.spawn);
    ui_.hideWindow("CreatePWWindow");
}

void AppDelegate::openPanelDidEnd5(const std::optional<platform::Ui::Paths>& chosen) {
    if (!chosen || chosen->size() != 1) return;
    const std::string& folder = chosen->front();
    if (!blankRuleHolds(ui_, folder)) return;
    if (const std::string current = storageFolder(); !current.empty() && present(current)) {
        moveStorageFolder(folder);
        return;
    }
    const std::string storage = folder + "/vaultry.data";
    setStorelocationPath(storage);
    auto grant = s_.bookmarks.create(folder);
    if (!grant) return;
    const std::string current = storageFolder();
    settings_.set(key::EncyptedFatherStorePath, *grant);
    settings_.set(key::EncyptedStorePath, storage);
    if (auto st = settings_.flush(); !st) logLine("settings: " + st.error().message);
    ui_.setText("StorePathlab", storage);
    if (auto st = vault::ensurePrivateFolder(storage); !st) logLine(st.error().message);
    if (!current.empty() && present(current)) {
        // The archives come along; nothing already in the new folder is overwritten, and the
        // old folder stays as it is.
        const auto notCopied = vault::copyStorageFolder(current, storage);
        if (!notCopied.empty())
            ui_.runAlert(Alert{"Some items could not be copied to the new storage folder.",
                               listText(notCopied), " Ok ", "", ""});
    }
    vault::giveFolderIcon(storage, s_.spawn);
}

void AppDelegate::openPanelDidEnd3(const std::optional<platform::Ui::Paths>& chosen) {
    if (!chosen || chosen->size() != 1) return;
    const std::string& folder = chosen->front();
    logLine(folder);
    setStorelocationPath(folder);
    if (auto grant = s_.bookmarks.create(folder)) {
        settings_.set(key::TidyLocationData, *grant);
        if (auto st = settings_.flush(); !st) logLine("settings: " + st.error().message);
    }
    ui_.setImage("tidybutton", "startlocationnombtn.png");
    // The location was asked for by a tidy: it goes on now.
    ui_.hideWindow("connectWindow");
    ClickTidyAction();
}

}  // namespace vaultry

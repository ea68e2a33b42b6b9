#include <algorithm>
#include <filesystem>

#include "app/AppDelegate.h"
#include "app/SettingsKeys.h"
#include "platform/Log.h"
#include "vault/Rekey.h"

namespace vaultry {

void AppDelegate::loadVaultLists() {
    if (auto records = settings_.stringArray(key::VaultryDataArray)) {
        backupFileDataArray.insert(backupFileDataArray.end(), records->begin(), records->end());
        FileDataArray.insert(FileDataArray.end(), records->begin(), records->end());
    }
    if (auto decrypted = settings_.stringArray(key::VaultryDecryptedDataArray))
        DecrytedDataArray.insert(DecrytedDataArray.end(), decrypted->begin(), decrypted->end());
    ui_.reload("fileTableView");
    const auto storage = settings_.string(key::EncyptedStorePath);
    if (storage) {
        // A password change cut short by a crash is settled before anything opens an archive.
        if (auto verifier = vault::recoverRekey(*storage)) {
            settings_.set(key::VaultryPassword, *verifier);
            if (auto st = settings_.flush(); st) vault::finishRekey(*storage);
        }
        // Plaintext an unpacking left behind when the process died.
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(*storage, ec))
            if (e.path().filename().string().rfind(".vaultry-unpack-", 0) == 0)
                std::filesystem::remove_all(e.path(), ec);
    }
    setStorelocationPath(storage.value_or(""));
    if (storage) ui_.setText("StorePathlab", *storage);
    // Without a vault storage folder, the folder chosen on the access window is the shared
    // location, as its chooser set it in the last run.
    if (!storage) {
        auto grant = settings_.data(key::TidyLocationData);
        // Earlier versions kept the tidy location under the Trash's grant; the Trash itself is
        // never taken for it.
        if (!grant) grant = settings_.data(key::AutoTrashData);
        if (grant)
            if (auto resolved = s_.bookmarks.resolve(*grant);
                resolved && !resolved->stale && std::filesystem::path(resolved->path) != s_.paths.trash())
                setStorelocationPath(resolved->path);
    }
    if (auto grant = settings_.data(key::EncyptedFatherStorePath)) {
        // A grant that does not resolve, or names another object now, is ignored.
        if (auto resolved = s_.bookmarks.resolve(*grant); resolved && !resolved->stale)
            s_.bookmarks.startAccessing(resolved->path);
    }
}

void AppDelegate::addVaultRecord(const std::string& record) {
    backupFileDataArray.push_back(record);
    FileDataArray.push_back(record);
}

void AppDelegate::removeVaultRecord(const std::string& record, bool fromShownList) {
    std::erase(backupFileDataArray, record);
    if (fromShownList) std::erase(FileDataArray, record);
}

void AppDelegate::markDecrypted(const std::string& record) { DecrytedDataArray.push_back(record); }

void AppDelegate::unmarkDecrypted(const std::string& record) { std::erase(DecrytedDataArray, record); }

void AppDelegate::saveRecords() {
    settings_.set(key::VaultryDataArray, backupFileDataArray);
    if (auto st = settings_.flush(); !st) logLine("settings: " + st.error().message);
}

void AppDelegate::saveDecrypted() {
    settings_.set(key::VaultryDecryptedDataArray, DecrytedDataArray);
    if (auto st = settings_.flush(); !st) logLine("settings: " + st.error().message);
}

}  // namespace vaultry

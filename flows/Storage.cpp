#include "flows/Storage.h"

#include <algorithm>
#include <filesystem>

#include "vault/ArchiveManifest.h"
#include "vault/Records.h"
#include "vault/StorageFolder.h"
#include "vault/StorageLock.h"
#include "vault/VaultIdentity.h"

namespace vaultry::flows {

namespace fs = std::filesystem;

bool storageMoves(const Preferences& prefs, const std::string& folder) {
    const std::string current = prefs.storePath().value_or("");
    if (current.empty() || fs::path(folder + "/vaultry.data") == fs::path(current)) return false;
    const auto records = prefs.records();
    std::error_code ec;
    return std::any_of(records.begin(), records.end(), [](const auto& r) { return vault::isEncrypted(r); }) ||
           fs::symlink_status(current, ec).type() != fs::file_type::not_found;
}

Result<StorageSwitched> switchStorage(Preferences prefs, platform::Bookmarks& bookmarks,
                                      platform::Spawn& spawn, const std::string& folder,
                                      const RunLongWork& run) {
    const std::string current = prefs.storePath().value_or("");
    const std::string storage = folder + "/vaultry.data";
    if (!current.empty() && fs::path(storage) == fs::path(current)) return StorageSwitched{storage, {}, {}};
    auto grant = bookmarks.create(folder);
    if (!grant) return fail("cannot use " + folder + ": it does not exist");
    const bool moves = storageMoves(prefs, folder);
    auto lock = vault::StorageLock::take(current);
    if (!lock) return lock.error();
    std::optional<vault::StorageMove> move;
    if (moves) {
        if (auto st = vault::requireStorage(prefs.store(), current); !st) return st.error();
        std::optional<Result<vault::StorageMove>> copied;
        run("Moving the vault to " + storage,
            [&](Progress& progress) { copied = vault::copyStorageForMove(current, storage, progress); });
        // A failed or cancelled copy has already taken back what it put into the new folder.
        if (!*copied) return copied->error();
        move = std::move(**copied);
    } else if (auto st = vault::ensurePrivateFolder(storage); !st) {
        return st.error();
    }

    // The switch: a move's copy carries the vault's marker; a new folder gets one of its own.
    auto id = vault::markStorageFolder(storage);
    if (!id) {
        if (move) vault::rollBackStorageMove(current);
        return id.error();
    }
    std::vector<std::pair<Pref, std::optional<Value>>> before;
    for (const auto pref : {Pref::StoreParentGrant, Pref::StorageFolderId, Pref::IntegrityIdentity,
                            Pref::IntegrityIdentityNext, Pref::StorePath})
        before.emplace_back(pref, prefs.stored(pref));
    prefs.setStorageFolderId(*id);
    if (std::error_code ec; !move && !fs::exists(fs::path(storage) / vault::ArchiveManifest::kFileName, ec)) {
        // A new vault without archives: the integrity record of the folder left behind is not its.
        prefs.restore(Pref::IntegrityIdentity, std::nullopt);
        prefs.restore(Pref::IntegrityIdentityNext, std::nullopt);
    }
    prefs.setStoreParentGrant(*grant);
    prefs.setStorePath(storage);
    if (!prefs.save()) {
        if (move) vault::rollBackStorageMove(current);
        for (const auto& [pref, value] : before) prefs.restore(pref, value);
        return fail("The settings could not be written");
    }
    if (move) vault::finishStorageMove(current, storage);
    StorageSwitched switched{storage, {}, {}};
    if (move) switched.leftInOld = std::move(move->leftInOld);
    if (auto st = vault::giveFolderIcon(storage, spawn); !st) switched.iconProblem = st.error().message;
    return switched;
}

}  // namespace vaultry::flows

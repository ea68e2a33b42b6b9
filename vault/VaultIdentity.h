#pragma once
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "settings/SettingsStore.h"
#include "util/Result.h"
#include "vault/ArchiveManifest.h"

// What ties the settings to the folders they name. A drive that is not mounted leaves its mount
// point as an empty folder (or none): a path alone cannot tell it from the vault's folder, and
// writing there would hide the new archives under the drive once it is back. So the storage folder
// holds a marker file with a random id, and the settings hold the same id; a folder without the
// marker, or with another, is not the vault's. (The device number is no identity: it changes
// between boots for some drives.) The tidy folder gets the same.
namespace vaultry::vault {

inline constexpr const char* kFolderMarker = ".vaultry-id";

// "The storage folder PATH is not available. Is its drive connected?"
std::string storageUnavailable(const std::string& storage);
std::string tidyFolderUnavailable(const std::string& folder);

// Before any work that needs the storage folder: succeeds when `storage` holds the marker the
// settings name. A vault of an earlier version (no id in the settings yet) gets one now, but only
// when its folder is there and holds the vault (an archive of a record, or its manifest), or when
// no record needs it yet (the folder is created then). Anything else is refused with
// storageUnavailable(): nothing is created, so no vault.data appears on an empty mount point.
Status requireStorage(SettingsStore& settings, const std::string& storage);

// For a new storage folder the settings are about to name (an empty one, or the copy of a move):
// its marker (written when it has none) and the id to store with the path.
Result<std::string> markStorageFolder(const std::filesystem::path& storage);

// Before a tidy into `folder` (the tidy folder under its location): the location must be there;
// a tidy folder made before must still hold its marker. One made now gets a marker, and the
// settings remember it with its path.
Status requireTidyFolder(SettingsStore& settings, const std::string& folder);

// Earlier versions wrote a plain 45x60 preview of an encrypted file into "libdata": drawn from
// its content, readable by anyone who reads the storage folder. Each one that sits where Vaultry
// put it for a record (vault::thumbnailPath) is removed, in the vault's own folder only: one whose
// marker is `folderId` (the settings' StorageFolderId) or, for a vault of an earlier version
// without one, where the record's archive lies. Nothing else in "libdata" is touched, and the
// folder is made private.
void removeEarlierThumbnails(const std::string& storage, const std::vector<std::string>& records,
                             const std::optional<std::string>& folderId);

// The settings as keeper of the integrity manifest's identity (vault/ArchiveManifest.h), for the
// GUI and vaultry-cli. Installed for the life of the object. Other processes may change the
// settings meanwhile: each question reads the file again.
class SettingsIntegrityKeeper : public IntegrityKeeper {
public:
    SettingsIntegrityKeeper(SettingsStore& settings, std::function<void(const std::string&)> tell);
    ~SettingsIntegrityKeeper() override;
    SettingsIntegrityKeeper(const SettingsIntegrityKeeper&) = delete;
    SettingsIntegrityKeeper& operator=(const SettingsIntegrityKeeper&) = delete;

    std::vector<std::string> expected() override;
    bool recorded() override;
    Status announce(const std::string& next) override;
    Status settle(const std::string& current) override;
    Status reset() override;
    void tell(const std::string& message) override;
    void unlockedWith(const std::string& verifier) override { verifier_ = verifier; }
    // Whether the stored password is still the one this process unlocked with.
    Status stillUnlocked() override;

private:
    SettingsStore& settings_;
    std::string verifier_;
    std::function<void(const std::string&)> tell_;
    IntegrityKeeper* before_;
};

}  // namespace vaultry::vault

#pragma once
#include <filesystem>
#include <string>

#include "util/Result.h"

namespace vaultry::vault {

// Exclusive hold of a storage folder, shared by every Vaultry process (the GUI and vaultry-cli):
// an advisory lock on ".vaultry-lock" inside it. Changing the password, settling a change cut
// short, encrypting, locking, removing and moving the folder each hold it, so no process sees
// another's work half done. The system drops the lock when its holder dies, so a held lock always
// means a living holder. Within one process the lock may be taken again while it is held.
class StorageLock {
public:
    static constexpr const char* kFileName = ".vaultry-lock";

    // Takes the lock without waiting; fails when another process holds it, or when the vault was
    // moved out of the folder. A folder that does not exist, or where no lock file can be made,
    // has nothing to guard: the lock then holds nothing and succeeds.
    static Result<StorageLock> take(const std::filesystem::path& storage);

    StorageLock(StorageLock&& other) noexcept;
    StorageLock& operator=(StorageLock&& other) noexcept;
    StorageLock(const StorageLock&) = delete;
    StorageLock& operator=(const StorageLock&) = delete;
    ~StorageLock();

    bool holds() const { return !key_.empty(); }

private:
    StorageLock() = default;
    void release();
    std::string key_;
};

// Left in a storage folder the vault was moved out of, naming the new one: the folder is a copy
// left behind, and a process that still took it for the vault's (its settings read before the
// move) is refused there instead of writing what the vault would never see.
inline constexpr const char* kMovedMarker = ".vaultry-moved";
// Why a folder with that marker is refused; empty when it has none.
std::string movedAwayFrom(const std::filesystem::path& storage);

// The sentence given when another process holds the storage folder.
inline constexpr const char* kStorageBusy =
    "another Vaultry process is working in the storage folder; try again when it has finished";

}  // namespace vaultry::vault

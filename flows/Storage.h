#pragma once
#include <optional>
#include <string>
#include <vector>

#include "flows/LongWork.h"
#include "platform/Bookmarks.h"
#include "platform/Spawn.h"
#include "settings/Preferences.h"
#include "util/Result.h"

// Choosing another storage folder, the same for the GUI and vaultry-cli.
namespace vaultry::flows {

struct StorageSwitched {
    std::string storage;  // the new storage folder, `folder`/vaultry.data, now in the settings
    // When the vault moved: what the old folder still holds of its own (it is left as it is).
    std::optional<std::vector<std::string>> leftInOld;
    std::string iconProblem;  // why the folder did not get its icon; empty when it did
};

// Whether choosing `folder` moves the vault: its current folder is there, or its records need it
// (an existing vault is moved, never repointed at a folder without its archives). Such a move
// needs the current folder available (vault::requireStorage).
bool storageMoves(const Preferences& prefs, const std::string& folder);

// Makes `folder`/vaultry.data the storage folder. A vault whose current folder is there, or whose
// records need it, moves: everything is copied and checked, and only then do the settings name
// the new folder. Without one, the settings name a new private folder. The current folder is held
// from the copy to the switch, so no other process changes it meanwhile.
//
// Fails with nothing changed: the folder does not exist, the current folder is not available or
// held by another process, the copy failed or was cancelled (Error::cancelled), or the settings
// could not be written.
Result<StorageSwitched> switchStorage(Preferences prefs, platform::Bookmarks& bookmarks,
                                      platform::Spawn& spawn, const std::string& folder,
                                      const RunLongWork& run);

}  // namespace vaultry::flows

#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Result.h"
#include "platform/Spawn.h"

namespace vaultry::vault {

// Creates the folder (and the folders above it) and makes it private to the user (0700).
Status ensurePrivateFolder(const std::filesystem::path& folder);

// The file browsers' custom icon of the storage folder: a ".directory" entry (Dolphin and
// others) and GIO's custom icon through `gio` (found through PATH by the spawn adapter). A failure
// of either, a missing `gio` included, is returned: the icon is a nicety, so callers report it
// and go on.
Status giveFolderIcon(const std::filesystem::path& folder, platform::Spawn& spawn);

// Copies everything in `from` into `to` without overwriting anything there; returns the names
// that were not copied, each with the reason. Temporary and journal files are left behind.
std::vector<std::string> copyStorageFolder(const std::filesystem::path& from,
                                           const std::filesystem::path& to);

}  // namespace vaultry::vault

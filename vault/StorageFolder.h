#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Spawn.h"
#include "util/Progress.h"
#include "util/Result.h"

namespace vaultry::vault {

// Creates the folder (and the folders above it) and makes it private to the user (0700).
Status ensurePrivateFolder(const std::filesystem::path& folder);

// The icon file managers show for the storage folder, by the name it is installed under in the
// hicolor icon theme.
inline constexpr const char* kFolderIconName = "com.Quenmark.vaultry-folder";
// The file managers' icon of the storage folder, given where the icon is installed (in the
// hicolor theme of XDG_DATA_HOME or XDG_DATA_DIRS; elsewhere a file manager would show a missing
// icon): what each file manager reads. A ".directory" entry for Dolphin and the other KDE file
// managers, written only where none is or the one there is ours (a user's is never replaced), and
// GVfs metadata through `gio set` (GNOME Files, Nemo, Caja) where GVfs keeps metadata. Where
// neither applies, nothing is done and nothing is said; a real failure of either is returned:
// the icon is a nicety, so callers report it and go on.
Status giveFolderIcon(const std::filesystem::path& folder, platform::Spawn& spawn);
// A ".directory" Vaultry wrote: a file (no link) whose entry names our icon, by its name of now or
// of an earlier version. A storage move leaves it behind and writes it anew; a user's is carried
// like everything else.
bool isOurFolderEntry(const std::filesystem::path& file);

// Moving the vault to another storage folder. Everything of the old folder (archives,
// thumbnails, manifests, decrypted copies) is copied into the new one, and each copy is checked
// against its original, before the caller switches the setting; the old folder stays as it was.
// A journal in the old folder (".vaultry-move") names what the copy put into the new folder,
// so that a copy cut short, or one whose setting could not be stored, is taken back.
//  copyStorageForMove  → store the setting → finishStorageMove (or rollBackStorageMove)
struct StorageMove {
    std::vector<std::string> leftInOld;  // the items the old folder still holds
};
// Fails, and leaves the new folder as it found it, when `to` is `from` or inside it, when an item
// of the same name in `to` differs from the one in `from`, or when a copy cannot be made whole.
// Items already in `to` that equal their originals are taken as copied (a move tried again
// resumes). Two steps go to `progress`: "Copying the vault" (bytes copied) and "Checking the
// copies" (items); cancelled, the new folder is left as it was found and cancelledError() returned.
Result<StorageMove> copyStorageForMove(const std::filesystem::path& from, const std::filesystem::path& to,
                                       Progress& progress = Progress::none());
// The setting names the new folder: the move is complete, and the old folder is marked as the
// copy left behind (kMovedMarker), so that no process works in it any more.
void finishStorageMove(const std::filesystem::path& from, const std::filesystem::path& to);
// Takes back what an unfinished move out of `from` put into its new folder. Nothing when there
// is no journal.
void rollBackStorageMove(const std::filesystem::path& from);
// True when `inner` is `outer` or lies inside it, links resolved.
bool isWithin(const std::filesystem::path& inner, const std::filesystem::path& outer);

}  // namespace vaultry::vault

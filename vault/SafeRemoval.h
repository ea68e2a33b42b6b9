#pragma once
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "util/Result.h"

// Deleting a user's plaintext (an original after encryption, a decrypted copy when it is locked)
// all or nothing: the item first leaves its place whole, by one rename into a private folder
// beside it, and is compared there with what was packed; only then is it deleted. A kill at any
// moment leaves the item in its place, or aside under a name the next start settles.
namespace vaultry::vault {

namespace fs = std::filesystem;

// Folders beside an item that hold it while it is checked (".vaultry-keep-XXXXXX": put back at
// the next start) and once it is certain to go (".vaultry-removing-XXXXXX": deleted).
inline constexpr const char* kKeepPrefix = ".vaultry-keep-";
inline constexpr const char* kRemovingPrefix = ".vaultry-removing-";

// What an item looks like: each entry's name below the item, type, size, modification time and
// inode (links: their target). Folders count by their names only.
struct Snapshot {
    struct Entry {
        std::string name;  // "" for the item itself
        char type = 'o';   // f file, d folder, l link, o other
        std::uint64_t size = 0;
        std::int64_t mtimeNs = 0;
        std::uint64_t inode = 0;
        std::string linkTarget;
        bool operator==(const Entry&) const = default;
    };
    std::vector<Entry> entries;  // in name order
    // Files inside with hard links the item does not hold itself: deleting the item would leave
    // their contents in place under another name.
    std::vector<std::string> linkedElsewhere;
    bool operator==(const Snapshot& o) const { return entries == o.entries; }
};

Result<Snapshot> takeSnapshot(const fs::path& item);
// A digest of everything a snapshot holds, to tell later whether an item is still as it was.
std::string snapshotSum(const Snapshot& snapshot);
// The first entry that differs, for messages ("" when none).
std::string firstDifference(const Snapshot& before, const Snapshot& now);

// Whether this process can delete `item` and all it holds, counting folders of its own that it
// may make writable. Names the first entry that stands in the way.
Status checkRemovable(const fs::path& item);

// Moves `item` into a new folder "<prefix>XXXXXX" beside it; returns the item's new path. A
// read-only folder of our own is made writable for the move (a folder's ".." changes with it).
Result<fs::path> moveAside(const fs::path& item, const char* prefix);
// Puts an item moved aside back in its place (never over anything); the aside folder goes.
bool putBack(const fs::path& aside, const fs::path& item);
// Turns a kept-aside item into one to delete: its folder is renamed to the removing prefix.
Result<fs::path> commitRemoval(const fs::path& aside);
// Deletes the aside folder of `aside` and everything in it, making read-only folders of our own
// writable as emptying the Trash does. Returns the folder when something stayed.
std::optional<fs::path> deleteAside(const fs::path& aside);

// Everything of `item` deleted, all or nothing: checked, moved aside, compared with `expected`
// when given, deleted. On an error the item is in its place as it was. What could not be deleted
// after the item left its place is returned in `leftover` (swept at the next start).
Status removeWhole(const fs::path& item, const Snapshot* expected, std::optional<fs::path>* leftover);

// Deletes a copy this process wrote and has just found unchanged (one taken back): set aside
// first where the journal can be written, deleted in place where it cannot (a full disk), since
// what it holds is in its archive.
Status removeOwnCopy(const fs::path& path, const Snapshot* expected);

// What a process killed mid-way left behind, as the storage folder's journal names it
// (Temporaries.h): temporary files, unpack folders and items moved aside, each only while it is
// still the object that was made and its maker is gone. Items kept aside are put back; the rest
// is deleted. Nothing is taken by its name alone. Returns the paths dealt with.
std::vector<fs::path> sweepLeftovers(const fs::path& storage);

}  // namespace vaultry::vault

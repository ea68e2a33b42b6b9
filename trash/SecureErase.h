#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Spawn.h"
#include "util/Progress.h"

namespace vaultry::trash {

// The program that overwrites and deletes one file, and its options; the path follows "--".
struct EraseTool {
    std::string program;
    std::vector<std::string> options;
};

inline constexpr const char* kSrmProgram = "/usr/bin/srm";
inline constexpr const char* kShredProgram = "/usr/bin/shred";

// srm where it is installed, else coreutils' shred -u -z -n 3.
EraseTool defaultEraseTool();

// The tool for a number of passes: 0 keeps the default's own (srm writes 38 passes, which take
// minutes per GiB and buy nothing on today's drives); 1 is one random pass ("srm -ll", else
// "shred -u -n 1 -z").
EraseTool eraseToolForPasses(unsigned passes);

// Why overwriting a file in place may not reach the blocks that held its data: it lies on a
// copy-on-write file system such as btrfs, zfs or bcachefs, on a log-structured one such as f2fs,
// or on a solid-state drive (the block device is not rotational). Empty when none of these is known to hold.
std::string overwriteCaveat(const std::filesystem::path& path);

struct EraseReport {
    std::size_t erased = 0;             // regular files overwritten and deleted
    std::size_t removed = 0;            // links, other entries and folders deleted without overwriting
    std::size_t failed = 0;             // entries still present afterwards
    std::vector<std::string> refusals;  // why an entry was left alone, one line each
    // Entries on another file system than the chosen item (mount points), left alone with all
    // they hold: neither overwritten nor deleted.
    std::vector<std::string> otherFileSystems;
    // Set when the run was cancelled: it stopped before an entry, and what it had not reached
    // yet is where it was, untouched.
    bool cancelled = false;
    bool ok() const { return failed == 0 && otherFileSystems.empty(); }
    EraseReport& operator+=(const EraseReport& o) {
        erased += o.erased, removed += o.removed, failed += o.failed;
        refusals.insert(refusals.end(), o.refusals.begin(), o.refusals.end());
        otherFileSystems.insert(otherFileSystems.end(), o.otherFileSystems.begin(), o.otherFileSystems.end());
        cancelled = cancelled || o.cancelled;
        return *this;
    }
};

// The file system an entry lies on, from its lstat: st_dev unless a test stands in another.
using DeviceOf = std::function<dev_t(const std::filesystem::path&, const struct stat&)>;

// One file: a regular file is first renamed to a random name in its folder (the name is data
// too) and then handed to the tool; a symbolic link (or a pipe, socket, device) is removed as an
// entry, so the tool never opens anything outside the chosen items. A file with more than one hard
// link is refused before any rename (counted as failed, the reason in `refusals`): overwriting it
// would empty its other names too, which lie outside the chosen items.
EraseReport eraseFile(platform::Spawn& spawn, const EraseTool& tool, const std::filesystem::path& path);

// Every file below folder, recursively, in listing order, names beginning with "." too; folders
// themselves stay. Links are never followed, in the path to folder neither (a path through a link
// is refused, see util/NoLinkPath.h), and an entry on another file system than folder (a mount
// point) is left alone and listed in `otherFileSystems`.
// Each entry handled is one item of `progress`. Asked to cancel, it stops before the next entry:
// an overwritten file cannot be brought back, so the file the tool is working on is finished
// rather than left half-overwritten, and the entries not reached yet stay as they are.
EraseReport EraseFileDirectoryPath(platform::Spawn& spawn, const EraseTool& tool,
                                   const std::filesystem::path& folder, Progress& progress = Progress::none(),
                                   const DeviceOf& deviceOf = {});

// One chosen item: a folder has its files erased as above and its emptied folders deleted; a
// file or link is erased as above; a missing item is skipped. Trailing slashes are dropped first
// ("dir/link/" names the link, which is removed, never followed); a path that goes through a link
// ("dir/link/..", "dir/link/file") is refused with its reason. A folder whose erasing was
// cancelled is not deleted: it keeps the entries not reached yet.
EraseReport eraseItem(platform::Spawn& spawn, const EraseTool& tool, const std::filesystem::path& path,
                      Progress& progress = Progress::none(), const DeviceOf& deviceOf = {});

// The entries eraseItem hands to the tool or removes one by one (its items of progress).
std::size_t eraseUnits(const std::filesystem::path& path, const DeviceOf& deviceOf = {});

// What erasing some chosen items did, item by item.
struct EraseRun {
    EraseReport report;
    std::vector<std::string> gone;     // chosen items no longer there
    std::vector<std::string> left;     // chosen items still there, wholly or in part
    std::vector<std::string> partial;  // those of `left` that lost some of their files
    std::vector<std::string> failing;  // chosen items in which some entry failed or was refused
};

// Erases the chosen items in their order, reporting "Erasing" in items (eraseUnits of each).
// Asked to cancel, it stops before the next entry as EraseFileDirectoryPath does; what it says
// is gone is gone, and what it says is left is there.
EraseRun eraseItems(platform::Spawn& spawn, const EraseTool& tool, const std::vector<std::string>& items,
                    Progress& progress = Progress::none(), const DeviceOf& deviceOf = {});

}  // namespace vaultry::trash

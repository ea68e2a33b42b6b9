#pragma once
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Spawn.h"

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
    bool ok() const { return failed == 0; }
    EraseReport& operator+=(const EraseReport& o) {
        erased += o.erased, removed += o.removed, failed += o.failed;
        refusals.insert(refusals.end(), o.refusals.begin(), o.refusals.end());
        return *this;
    }
};

// One file: a regular file is first renamed to a random name in its folder (the name is data
// too) and then handed to the tool; a symbolic link (or a pipe, socket, device) is removed as an
// entry, so the tool never opens anything outside the chosen items. A file with more than one hard
// link is refused before any rename (counted as failed, the reason in `refusals`): overwriting it
// would empty its other names too, which lie outside the chosen items.
EraseReport eraseFile(platform::Spawn& spawn, const EraseTool& tool, const std::filesystem::path& path);

// Every file below folder, recursively, in listing order; names beginning with "." are left for the
// final deletion of the chosen folder, and folders themselves stay. Links are never followed.
EraseReport EraseFileDirectoryPath(platform::Spawn& spawn, const EraseTool& tool,
                                   const std::filesystem::path& folder);

// One chosen item: a folder has its files erased and is then deleted with what is left in it; a
// file or link is erased as above; a missing item is skipped. Trailing slashes are dropped first
// ("dir/link/" names the link, which is removed, never followed).
EraseReport eraseItem(platform::Spawn& spawn, const EraseTool& tool, const std::filesystem::path& path);

}  // namespace vaultry::trash

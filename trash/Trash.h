#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Spawn.h"
#include "util/Result.h"

namespace vaultry::trash {

inline constexpr const char* kDuProgram = "/usr/bin/du";

// Bytes from the output of `du -k -d 0 PATH`: the leading number of kilobytes, times 1024.
// Output that does not begin with a number gives 0; a count too large to hold saturates.
std::uint64_t parseDuOutput(std::string_view output);

// The size of a folder as du counts it; a plain file gives its own size, a missing path 0.
std::uint64_t fastFolderSizeAtFilePath(platform::Spawn& spawn, const std::filesystem::path& path);
// What a folder holds, as du counts it: the folder's own blocks are left out, so that an empty
// folder (however large its listing once grew) is 0.
std::uint64_t contentSize(platform::Spawn& spawn, const std::filesystem::path& folder);

enum class Unlock { No, Yes };

struct RemoveReport {
    std::size_t removed = 0;  // entries (files, links, folders) removed
    std::size_t failed = 0;   // entries that stayed
    bool ok() const { return failed == 0; }
};

// Removes everything below folder, keeping folder itself. Symbolic links are removed as links,
// never followed, and nothing outside folder is touched. With Unlock::Yes, folders without
// write permission for their owner are made writable first so that their contents can go.
RemoveReport removeContents(const std::filesystem::path& folder, Unlock unlock);
// Removes path itself and, for a folder, everything in it (a link is removed as a link).
RemoveReport removeTree(const std::filesystem::path& path, Unlock unlock);
// The same for the entry name of the open folder parentFd.
RemoveReport removeEntry(int parentFd, const char* name, Unlock unlock);

// Empties the freedesktop Trash: the contents of files/ and info/ and the directorysizes cache.
// The Trash folders stay. A Trash that does not exist yet is empty.
RemoveReport emptyTrash(const std::filesystem::path& trash, Unlock unlock);

// ---- Schedule --------------------------------------------------------------------------------

// The interval of a time choice ("Daily", "Every Week", "Two Weeks", "Every Month",
// "Two Months"); empty for any other title.
std::optional<std::uint64_t> intervalOfTimeChoice(std::string_view title);

// The reference date from which time counts when the Trash was never emptied: 2001-01-01 UTC.
std::chrono::system_clock::time_point referenceDate();

// Whole seconds from last (or the reference date) to now; 0 when last lies in the future.
std::uint64_t secondsSince(std::optional<std::chrono::system_clock::time_point> last,
                           std::chrono::system_clock::time_point now);

// The size limit the storage slider stands for, computed in single precision: the slider's
// fraction of its range times 10^9 bytes, times 3, 6, 9 or 10 by quarter of the range.
std::uint64_t storageThresholdForSlider(double value, double maximum);
inline constexpr std::uint64_t kSmallestStorageThreshold = 100000000;  // shown as "100MB"

// The calendar date of a moment as the last-emptying label shows it: "(2026-12-07)", in UTC.
std::string lastCleanDateText(std::chrono::system_clock::time_point date);

}  // namespace vaultry::trash

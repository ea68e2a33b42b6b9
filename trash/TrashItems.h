#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trash/Trash.h"

// The freedesktop Trash item by item: every volume's Trash, the .trashinfo records, and emptying
// by age or down to a size.
namespace vaultry::trash {

using TimePoint = std::chrono::system_clock::time_point;

// ---- Volumes ---------------------------------------------------------------------------------

// The mount points listed in /proc/self/mountinfo text, in their order, with the octal escapes
// (\040 for a blank and so on) decoded.
std::vector<std::filesystem::path> parseMountInfo(std::string_view text);

struct TrashFolder {
    std::filesystem::path path;        // the Trash folder holding files/ and info/
    std::filesystem::path mountPoint;  // the volume it serves; empty for the home Trash
};

// The Trash folders of a volume for user uid that exist: "$top/.Trash/$uid" when "$top/.Trash" is
// a sticky folder and not a link, and "$top/.Trash-$uid". A Trash that is a link, is not a
// folder, or lies on another device than top is left out.
std::vector<TrashFolder> volumeTrashFolders(const std::filesystem::path& top, uid_t uid);

// The home Trash first, then every volume's Trash from the mount table (the file at mountInfo),
// each folder once (a bind mount or the home volume is not counted twice).
std::vector<TrashFolder> allTrashFolders(const std::filesystem::path& homeTrash,
                                         const std::filesystem::path& mountInfo, uid_t uid);

// ---- Items -----------------------------------------------------------------------------------

// "%20" and the like decoded; a "%" not followed by two hex digits stays as it is.
std::string percentDecode(std::string_view text);
// Every byte but unreserved ASCII and "/" as %XX, the way .trashinfo and directorysizes write.
std::string percentEncode(std::string_view text);

struct TrashInfo {
    std::string path;                    // decoded original path
    std::optional<TimePoint> deletedAt;  // DeletionDate, read as local time
};

// The [Trash Info] group of a .trashinfo file; empty when the group or its Path is missing.
std::optional<TrashInfo> parseTrashInfo(std::string_view text);

// A DeletionDate value, "YYYY-MM-DDThh:mm:ss" in local time.
std::optional<TimePoint> parseDeletionDate(std::string_view text);

struct TrashItem {
    std::string name;               // the entry name in files/ (and info/<name>.trashinfo)
    std::optional<TrashInfo> info;  // empty when the .trashinfo is missing or unreadable
    bool hasFile = true;            // false for a .trashinfo whose file is gone
};

// The items of one Trash folder: every entry of files/, and every .trashinfo without its file.
std::vector<TrashItem> listItems(const std::filesystem::path& trash);

// Bytes an entry occupies on disk as du counts them (blocks of 512 bytes), links not followed.
std::uint64_t diskUsage(const std::filesystem::path& path);

struct PartialReport {
    std::size_t removed = 0;                        // items (file and .trashinfo) removed
    std::size_t failed = 0;                         // items that stayed although they were chosen
    std::size_t unreadable = 0;                     // items without a readable .trashinfo, left in place
    std::uint64_t freed = 0;                        // bytes freed, as diskUsage counts them
    std::vector<std::string> chosen;                // original paths (or names) of the items chosen
    std::vector<std::filesystem::path> chosenFrom;  // the Trash folder of each, in the same order
    PartialReport& operator+=(const PartialReport& o);
    bool ok() const { return failed == 0; }
};

// Removes the items of trash deleted before cutoff: the file (a folder with all in it) first,
// then its .trashinfo, and their lines of directorysizes. With dryRun nothing changes and chosen
// lists what would go.
PartialReport emptyOlderThan(const std::filesystem::path& trash, TimePoint cutoff, Unlock unlock,
                             bool dryRun = false);

// Removes the oldest items across all folders until together they occupy less than limit bytes.
PartialReport emptyDownTo(const std::vector<std::filesystem::path>& trashes, std::uint64_t limit,
                          Unlock unlock, bool dryRun = false);

// Bytes of a Trash folder (files, info and the rest) as diskUsage counts them.
std::uint64_t trashUsage(const std::filesystem::path& trash);

// ---- Schedule rules --------------------------------------------------------------------------

// The rules the schedule keeps in the settings. The two boxes empty everything once the interval
// has passed or the size is exceeded; with onlyOlder / onlyOldest they remove only the items
// deleted longer than the interval ago / only the oldest items down to the size.
struct ScheduleRules {
    bool byTime = false;
    bool bySize = false;
    std::optional<std::uint64_t> interval;  // seconds, from the time choice
    std::uint64_t sizeLimit = 0;
    bool onlyOlder = false;
    bool onlyOldest = false;
};

enum class ScheduleAction { None, EmptyAll, RemoveOlder, RemoveOldest };

// What the rules call for: a Trash of totalSize bytes, emptied elapsed seconds ago.
ScheduleAction scheduleAction(const ScheduleRules& rules, std::uint64_t totalSize, std::uint64_t elapsed);

// "500MB", "2G", "1.5GiB", "1048576": decimal units (kB, MB, GB, TB) and binary ones (KiB, MiB,
// GiB, TiB, or a bare K, M, G, T); empty when the text is not a size.
std::optional<std::uint64_t> parseSize(std::string_view text);

}  // namespace vaultry::trash

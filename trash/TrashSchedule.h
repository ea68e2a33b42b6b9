#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Spawn.h"
#include "settings/Preferences.h"
#include "trash/TrashItems.h"
#include "util/Result.h"

// The Trash schedule as the settings keep it, applied once by the GUI's hourly check, by
// `vaultry-cli trash check` and by the systemd user timer that runs it.
namespace vaultry::trash {

// The rules kept in the settings: the two boxes, the time choice ("CleanTimeF"), the size
// ("TrashStorage", absent counts as 0) and the two options for removing only some items.
ScheduleRules rulesFromSettings(const Preferences& prefs);

// The Trash folders' paths.
std::vector<std::filesystem::path> pathsOf(const std::vector<TrashFolder>& folders);

// What is in a Trash folder: its files/, as du counts them (an empty Trash is 0).
std::uint64_t trashSize(platform::Spawn& spawn, const TrashFolder& folder);
// The size of all of them together.
std::uint64_t totalSize(platform::Spawn& spawn, const std::vector<TrashFolder>& folders);

// Empties every Trash folder (files/, info/, directorysizes).
RemoveReport emptyAll(const std::vector<TrashFolder>& folders, Unlock unlock);

// The hourly check, step by step. The removals of only some items come first and ask nothing
// (the user chose those options for unattended use); emptying everything is then only said to be
// due, so that each caller asks in its own way and records the emptying when it is agreed.
struct ScheduleCheck {
    bool removedOldest = false;  // the size rule's option applied
    bool removedOlder = false;   // the time rule's option applied
    PartialReport oldest;        // what the size rule's option removed (or would, in a dry run)
    PartialReport older;         // what the time rule's option removed (or would, in a dry run)
    bool emptyAllDue = false;
};

// Removes what the two options call for: with the size rule and "only the oldest", the oldest
// items until the Trash holds less than the limit; with the time rule and "only older", the items
// deleted more than the interval before now. Nothing is measured here.
ScheduleCheck removeSomeItems(const ScheduleRules& rules, const std::vector<TrashFolder>& folders,
                              TimePoint now, bool dryRun = false);

// Whether emptying everything is due: the size rule without its option when the size is at the
// limit or above (measure() is called only then), or the time rule without its option when the
// seconds elapsed since the last emptying reach its interval.
bool emptyAllIsDue(const ScheduleRules& rules, std::uint64_t elapsed,
                   const std::function<std::uint64_t()>& measure);

// Both, in that order: what is removed quietly goes first, then whether all is due is decided.
ScheduleCheck checkSchedule(const ScheduleRules& rules, const std::vector<TrashFolder>& folders,
                            TimePoint now, std::uint64_t elapsed,
                            const std::function<std::uint64_t()>& measure, bool dryRun = false);

struct ScheduleOutcome {
    ScheduleAction action = ScheduleAction::None;
    bool confirmed = false;
    std::uint64_t sizeBefore = 0;
    RemoveReport emptied;   // EmptyAll
    PartialReport partial;  // RemoveOlder, RemoveOldest
};

// Applies the rules once, as checkSchedule decides: whether the Trash is full is measured after
// the quiet removals (in a dry run, before; `sizeBefore` is always before). Emptying everything
// asks confirm() first and records "LastCleanDate" and "LastsCleanTrashData" when it is agreed; removing only
// some items asks nothing (the user chose that mode for unattended use) and records nothing. With dryRun
// nothing is asked, recorded or removed: the action says what is due and `partial.chosen` what
// only-some-items would take.
ScheduleOutcome applySchedule(platform::Spawn& spawn, Preferences prefs,
                              const std::vector<TrashFolder>& folders, Date now,
                              const std::function<bool()>& confirm, bool dryRun = false);

// Removes only some items by the rules given on a command line rather than those kept in the
// settings: first those deleted before cutoff, then the oldest until all together occupy less
// than limit bytes. A dry run removes nothing by age, so the size rule would choose again what
// the age rule already chose: those are left out of its share, and each item is chosen once.
PartialReport emptyByAgeAndSize(const std::vector<TrashFolder>& folders, std::optional<TimePoint> cutoff,
                                std::optional<std::uint64_t> limit, Unlock unlock, bool dryRun);

// ---- systemd user timer --------------------------------------------------------------------

inline constexpr const char* kTimerName = "vaultry-trash-check.timer";
inline constexpr const char* kServiceName = "vaultry-trash-check.service";

// A word for an ExecStart= line: quoted, with backslashes, quotes and "%" escaped.
std::string systemdQuoted(const std::string& word);
// The oneshot service that runs "<cli> trash check --yes", and the hourly timer that starts it.
std::string trashCheckService(const std::filesystem::path& cli);
std::string trashCheckTimer();
// $XDG_CONFIG_HOME/systemd/user
std::filesystem::path userUnitFolder(const std::filesystem::path& configHome);

// Writes both units and asks the user's service manager to reload and start the timer; the files
// stay in place when systemctl fails (the error says so, and the next login picks them up).
Status installTrashTimer(platform::Spawn& spawn, const std::filesystem::path& configHome,
                         const std::filesystem::path& cli);
// Stops and disables the timer, then removes both units.
Status removeTrashTimer(platform::Spawn& spawn, const std::filesystem::path& configHome);
// "on" when the timer's unit is installed and enabled, else "off"; with the manager's word.
std::string trashTimerStatus(platform::Spawn& spawn, const std::filesystem::path& configHome);

}  // namespace vaultry::trash

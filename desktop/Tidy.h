#pragma once
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/FBFileNode.h"
#include "util/Progress.h"
#include "util/Result.h"

namespace vaultry::tidy {

// The tidy folder under a storage location: "<location>/com.Quenmark.sortello". Empty when the
// location is empty (there is nowhere to tidy to).
std::string storageFolder(const std::string& storelocation);

// Why a move did not happen.
enum class MoveError { None, NameTaken, Vanished, Failed, Cancelled };

struct MoveResult {
    MoveError error = MoveError::None;
    std::string message;  // for the log and the command line; empty on success
    bool ok() const { return error == MoveError::None; }
};

// Moves an item (file, folder, link — a link itself, never what it points to) to a path that
// must not exist yet: an existing item there is never replaced. Across file systems the item is
// copied, the copy compared with the original, and only then the original deleted; a failed
// copy is removed again and the original stays. A copy that `progress` is asked to cancel stops
// at its next buffer, is removed, and the original stays (MoveError::Cancelled).
MoveResult moveItem(const std::string& from, const std::string& to, Progress& progress = Progress::none());

// The cross-file-system half of moveItem: copy, compare, then delete the original, but only while
// it is still exactly what was copied; otherwise the copy goes and the original stays.
// `afterCopy` runs once the copy is in place (tests use it to change the original meanwhile).
MoveResult copyThenDelete(const std::string& from, const std::string& to,
                          const std::function<void()>& afterCopy = {}, Progress& progress = Progress::none());

// Names of a folder's entries that do not begin with ".", sorted by name.
std::vector<std::string> visibleNames(const std::string& folder);

struct Failure {
    std::string name;
    std::string message;
};

struct TidyOutcome {
    std::vector<std::string> moved;     // destination paths (with dryRun: those it would take)
    std::vector<Failure> failed;        // still on the desktop
    std::vector<std::string> excluded;  // names kept on the desktop by a pattern or for the vault
};

// Why a desktop folder must not be tidied, or empty when it may be. Every visible entry of the
// desktop is moved away, so a desktop that resolves to the home folder (as an
// `XDG_DESKTOP_DIR="$HOME/"` line that switches the desktop off makes it), to "/", or to a folder
// holding the storage location or the settings folder is refused: tidying it would carry off the
// user's whole home.
std::string desktopRefusal(const std::string& desktop, const std::string& home,
                           const std::string& storelocation, const std::string& settingsFolder);

struct TidyOptions {
    std::vector<std::string> exclusions;  // shell wildcards matched against each name
    bool dryRun = false;                  // list what would move; change nothing
    // Called after the n-th journal entry is on disk and before its move ("intent"), and after the
    // n-th move ("moved"); tests stop the process there to kill it at a known point.
    std::function<void(std::string_view step, std::size_t n)> onStep = {};
    // Names the vault works with where they are (a decrypted copy, a hidden item): moved away, a
    // copy would be taken for deleted when it is locked and stay behind in plain.
    std::vector<std::string> keep = {};
};

// True when name matches one of the patterns ("*.desktop", "todo?.txt", "[Rr]eadme*").
bool isExcluded(std::string_view name, const std::vector<std::string>& patterns);

// Moves every visible desktop entry into the tidy folder (created with its parents), except the
// excluded ones, journaling each move before it is made (kJournalName), and writes the move log
// of this tidy into the tidy folder so that it can be undone. An entry that vanishes meanwhile is neither
// moved nor a failure; the entry that holds the tidy folder itself (a storage location on the desktop) stays.
//
// Reports one item per entry it looks at. Asked to cancel, it stops before the next entry (an
// entry being copied to another file system stops at its next buffer, its copy removed) and moves
// the entries this run already moved back to the desktop, so that the desktop is as it was; the
// move log of the tidy before stays the last to undo. It then returns `cancelledError()`, or, when
// an entry could not be moved back, an error naming it (that entry is then in this run's move log,
// so that Undo Last Tidy can take it back later).
Result<TidyOutcome> tidyDesktop(const std::string& desktop, const std::string& tidyFolder,
                                const TidyOptions& options = {}, Progress& progress = Progress::none());

// The move log of the last tidy, in the tidy folder (a dot file, so never listed).
inline constexpr const char* kMoveLogName = ".vaultry-last-tidy";

// The journal of a tidy under way, beside the move log: each move is appended and flushed before
// it is made, so that a tidy killed half-way can be undone exactly. A finished tidy turns it into
// the move log; one left by a killed tidy is turned into the move log by the next tidy or undo,
// with only the entries whose move happened (see recoverJournal).
inline constexpr const char* kJournalName = ".vaultry-tidy-journal";

// Turns a journal left by an interrupted tidy into the move log, keeping the entries whose move
// happened: the item is in the tidy folder and its original (the journal keeps its device and
// inode) is no longer on the desktop. A journal whose moves all did not happen is dropped and the
// move log of the tidy before stays. Nothing to do without a journal.
Status recoverJournal(const std::string& tidyFolder);

struct MoveLog {
    std::string desktop;             // where the items came from
    std::vector<std::string> names;  // their names, the same in the tidy folder
};

std::string formatMoveLog(const MoveLog& log);
std::optional<MoveLog> parseMoveLog(std::string_view text);

struct UndoOutcome {
    std::vector<std::string> restored;  // names moved back to the desktop
    std::vector<std::string> taken;     // the desktop has that name again: left in the tidy folder
    std::vector<std::string> missing;   // no longer in the tidy folder
    std::vector<Failure> failed;        // could not be moved; kept in the log for another try
};

// Moves the items of the last tidy back to where they came from, never overwriting; a tidy that
// was killed half-way is the last tidy, its journal recovered first. The log is
// then removed, or keeps only the items that failed for another reason than a taken name.
Result<UndoOutcome> undoLastTidy(const std::string& tidyFolder);

// ---- Automatic tidy ---------------------------------------------------------------------------

// "HH:MM" (00:00 to 23:59) as hour and minute.
std::optional<std::pair<int, int>> parseHourMinute(std::string_view text);

// The latest moment at hour:minute local time that is not after now (today's or yesterday's).
std::chrono::system_clock::time_point lastScheduledMoment(std::chrono::system_clock::time_point now, int hour,
                                                          int minute);

// True when the tidy of the day is due: the last run was before the latest scheduled moment.
// Never due before a first run was recorded (the schedule is armed then, not fired).
bool autoTidyDue(std::optional<std::chrono::system_clock::time_point> lastRun,
                 std::chrono::system_clock::time_point now, int hour, int minute);

// True when a name can stand for one entry of a folder: not empty, no "/", not "." or "..",
// no NUL.
bool isPlainName(std::string_view name);

// ASCII case-insensitive "text occurs in name".
bool nameContains(std::string_view name, std::string_view text);

// Records whose file name contains the text, ignoring case, in their order.
FileNodes filterByName(const FileNodes& nodes, std::string_view text);

}  // namespace vaultry::tidy

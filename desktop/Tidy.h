#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/FBFileNode.h"
#include "platform/Result.h"

namespace vaultry::tidy {

// The tidy folder under a storage location: "<location>/com.Quenmark.sortello". Empty when the
// location is empty (there is nowhere to tidy to).
std::string storageFolder(const std::string& storelocation);

// Why a move did not happen.
enum class MoveError { None, NameTaken, Vanished, Failed };

struct MoveResult {
    MoveError error = MoveError::None;
    std::string message;  // for the log and the command line; empty on success
    bool ok() const { return error == MoveError::None; }
};

// Moves an item (file, folder, link — a link itself, never what it points to) to a path that
// must not exist yet: an existing item there is never replaced. Across file systems the item is
// copied, the copy compared with the original, and only then the original deleted; a failed
// copy is removed again and the original stays.
MoveResult moveItem(const std::string& from, const std::string& to);

// The cross-file-system half of moveItem: copy, compare, then delete the original, but only while
// it is still exactly what was copied; otherwise the copy goes and the original stays.
// `afterCopy` runs once the copy is in place (tests use it to change the original meanwhile).
MoveResult copyThenDelete(const std::string& from, const std::string& to,
                          const std::function<void()>& afterCopy = {});

// Names of a folder's entries that do not begin with ".", sorted by name.
std::vector<std::string> visibleNames(const std::string& folder);

struct Failure {
    std::string name;
    std::string message;
};

struct TidyOutcome {
    std::vector<std::string> moved;  // destination paths
    std::vector<Failure> failed;     // still on the desktop
};

// Why a desktop folder must not be tidied, or empty when it may be. Every visible entry of the
// desktop is moved away, so a desktop that resolves to the home folder (as an
// `XDG_DESKTOP_DIR="$HOME/"` line that switches the desktop off makes it), to "/", or to a folder
// holding the storage location or the settings folder is refused: tidying it would carry off the
// user's whole home.
std::string desktopRefusal(const std::string& desktop, const std::string& home,
                           const std::string& storelocation, const std::string& settingsFolder);

// Moves every visible desktop entry into the tidy folder (created with its parents). An entry
// that vanishes meanwhile is neither moved nor a failure; the entry that holds the tidy folder
// itself (a storage location on the desktop) stays.
Result<TidyOutcome> tidyDesktop(const std::string& desktop, const std::string& tidyFolder);

// True when a name can stand for one entry of a folder: not empty, no "/", not "." or "..",
// no NUL.
bool isPlainName(std::string_view name);

// ASCII case-insensitive "text occurs in name".
bool nameContains(std::string_view name, std::string_view text);

// Records whose file name contains the text, ignoring case, in their order.
FileNodes filterByName(const FileNodes& nodes, std::string_view text);

}  // namespace vaultry::tidy

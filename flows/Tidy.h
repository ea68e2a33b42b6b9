#pragma once
#include <string>

#include "desktop/Tidy.h"
#include "platform/Paths.h"
#include "settings/Preferences.h"

// Tidying the Desktop, the same for the GUI and vaultry-cli. The moves and their undo log are the
// engine's (tidy::tidyDesktop, tidy::undoLastTidy); what is decided around them is here.
namespace vaultry::flows {

// Why the user's desktop must not be tidied into `location` (the folder chosen for tidied items),
// or empty when it may be (tidy::desktopRefusal).
std::string tidyRefusal(const platform::Paths& paths, const std::string& location);

// What a tidy of `desktop` leaves where it is, besides the dot files: the names matching the
// exclusions kept in the settings, and what the vault works with there (its hidden items and
// decrypted copies, by `records` and `decrypted`).
tidy::TidyOptions tidyOptions(const Preferences& prefs, const std::string& desktop,
                              const StringArray& records, const StringArray& decrypted);

}  // namespace vaultry::flows

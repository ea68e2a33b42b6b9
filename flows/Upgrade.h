#pragma once
#include <filesystem>
#include <string>

#include "platform/Bookmarks.h"
#include "settings/Preferences.h"

// What earlier versions left behind, settled at the start of Vaultry and of every vaultry-cli
// command, the same in both: a list of steps run in order, each settling one thing. A step finds
// for itself whether there is anything left to settle, so running the list again changes nothing;
// one that cannot finish (its folder is not there, the settings cannot be written) leaves what it
// found as it was and is tried again at the next start. Nothing here asks the user.
//
// The plain password earlier versions stored is not among the steps: its verifier needs the
// password, so flows::checkPassword replaces it the first time the password is entered.
namespace vaultry::flows {

struct Upgraded {
    std::string tidyLocation;  // the folder tidied items go to now; empty when none is chosen
    // Empty when nothing needs telling. Else why the tidy folder an earlier version kept in the
    // storage folder stayed there (it is logged too).
    std::string tell;
};

// Runs every step on the settings `prefs` views; `trash` is the Trash's files folder (its grant
// is never taken for the tidy location).
Upgraded upgrade(Preferences prefs, platform::Bookmarks& bookmarks, const std::filesystem::path& trash);

}  // namespace vaultry::flows

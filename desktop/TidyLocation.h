#pragma once
#include <filesystem>
#include <string>

#include "platform/Bookmarks.h"
#include "settings/Preferences.h"

namespace vaultry::tidy {

// The folder chosen for tidied items (the tidy folder is made inside it), from its grant; earlier
// versions kept it under the Trash's grant, and the Trash itself is never taken for it. Empty when
// none is chosen or it no longer resolves to the folder that was chosen.
std::string chosenLocation(const Preferences& prefs, platform::Bookmarks& bookmarks,
                           const std::filesystem::path& trash);

// Whether `folder` is the vault's storage folder or lies inside it (links resolved): tidied items
// never go there.
bool insideStorage(const std::string& folder, const std::string& storage);

// Moves the tidy folder of `from` into the location `to` with one rename, so that the items, the
// move log and an undo go along. Nothing happens when `from` has no tidy folder. Empty when done
// or nothing was there; otherwise what to tell the user: the folder stays where it is when `to`
// already has one or lies on another file system.
std::string moveTidyFolder(const std::string& from, const std::string& to);

// Earlier versions tidied into the vault's storage folder ("<storage>/com.Quenmark.sortello")
// whenever one was set. That folder is moved out of it: to the chosen location, or, with none
// chosen, to the folder the vault was chosen in, which becomes the tidy location without counting
// as chosen (the automatic tidy waits for a choice). Returns the location tidied items now go to
// (empty when none) and, in `tell`, what the user should hear about a folder that could not move.
std::string takeTidyFolderOutOfStorage(Preferences& prefs, platform::Bookmarks& bookmarks,
                                       const std::filesystem::path& trash, std::string& tell);

}  // namespace vaultry::tidy

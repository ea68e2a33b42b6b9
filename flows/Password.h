#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "flows/LongWork.h"
#include "settings/Preferences.h"
#include "util/Result.h"

// The vault password's flows, the same for the GUI and vaultry-cli: checking an entered password
// and changing it. Each takes the caller's view of the settings, which says whether a failed write
// is logged or left to the caller to tell.
namespace vaultry::flows {

// Whether `entered` is the vault password. A plain password stored by an older version is replaced
// by its verifier the first time it is entered. Returns the stored verifier; nullopt for a wrong
// password or when none is set.
std::optional<std::string> checkPassword(Preferences prefs, std::string_view entered);

struct PasswordChanged {
    std::string verifier;  // the new password's, now stored in the settings
    // Empty when the settings were written. Else why not: every archive opens with the new
    // password already, and the next vault command or start of Vaultry stores the verifier.
    std::string notSavedBecause;
};

// Changes the vault password to `next`. With the current password (`old`), every archive of the
// storage folder is encrypted again under `next` before its verifier is stored, so that the stored
// password opens every archive at every moment; without one (no password set yet) there is
// nothing to encrypt again. `records` are the vault's records as the caller shows them.
//
// Fails, with nothing changed, when the storage folder is not there or another process holds it,
// when the re-encryption fails or is cancelled (Error::cancelled), or when the settings could not
// be written before any archive changed.
Result<PasswordChanged> changePassword(Preferences prefs, std::optional<std::string_view> old,
                                       std::string_view next, const StringArray& records,
                                       const RunLongWork& run);

}  // namespace vaultry::flows

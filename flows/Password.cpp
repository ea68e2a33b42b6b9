#include "flows/Password.h"

#include "vault/PasswordVerifier.h"
#include "vault/Rekey.h"
#include "vault/StorageLock.h"
#include "vault/VaultIdentity.h"

namespace vaultry::flows {

std::optional<std::string> checkPassword(Preferences prefs, std::string_view entered) {
    const auto stored = prefs.passwordVerifier();
    if (!stored || !password::matches(*stored, entered)) return std::nullopt;
    if (!password::isVerifier(*stored))
        if (auto verifier = password::makeVerifier(entered)) {
            prefs.setPasswordVerifier(*verifier);
            prefs.save();
        }
    return prefs.passwordVerifier();
}

Result<PasswordChanged> changePassword(Preferences prefs, std::optional<std::string_view> old,
                                       std::string_view next, const StringArray& records,
                                       const RunLongWork& run) {
    const std::string storage = prefs.storePath().value_or("");
    const bool reencrypt = old && !storage.empty();
    // Archives on a drive that is not there cannot be encrypted again; a new password stored now
    // would open none of them.
    if (reencrypt)
        if (auto st = vault::requireStorage(prefs.store(), storage); !st) return st.error();
    // Held until the new verifier is stored, so that no other process settles this change.
    auto lock = vault::StorageLock::take(storage);
    if (!lock) return lock.error();
    auto verifier = password::makeVerifier(next);
    if (!verifier) return verifier.error();
    if (reencrypt) {
        Status changed;
        run("Changing the password", [&](Progress& progress) {
            changed = vault::changeArchivesPassword(storage, *old, next, *verifier, progress, records);
        });
        if (!changed) return changed.error();
    }
    // From here on every archive opens with the new password only.
    const auto before = prefs.stored(Pref::PasswordVerifier);
    prefs.setPasswordVerifier(*verifier);
    std::string why;
    if (prefs.save(&why)) {
        if (!storage.empty()) vault::finishRekey(storage);
        return PasswordChanged{*verifier, {}};
    }
    // The committed journal stays: the next vault command or start stores the verifier.
    if (reencrypt && vault::rekeyPending(storage)) return PasswordChanged{*verifier, why};
    // No archive was encrypted again: the password stays the one stored.
    prefs.restore(Pref::PasswordVerifier, before);
    return fail("The settings could not be written (" + why + ")");
}

}  // namespace vaultry::flows

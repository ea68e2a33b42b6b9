#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/Preferences.h"

// When decrypted copies are locked without the user asking: the session locks, the machine is
// about to sleep, the user logs out, or the session has been idle for the time set in
// Preferences ("VaultAutoLockMinutes": 0 for never, 5, 15 or 60).
namespace vaultry::vault {

enum class LockTrigger { SessionLocked, BeforeSleep, Logout, Idle };

inline constexpr const char* kAutoLockMinutesKey = prefkey::AutoLockMinutes;
using ::vaultry::kAutoLockChoices;  // settings/Preferences.h: the table checks the stored choice

// The stored choice made safe: anything but one of the choices is "never".
int autoLockMinutes(std::optional<std::uint64_t> stored);

// Whether an idle session should lock now: the idle time reached the chosen minutes and the
// copies were not already locked during this same idle stretch.
class IdleWatch {
public:
    explicit IdleWatch(int minutes) : minutes_(minutes) {}
    // Called with the session's idle time; true once per idle stretch when it is due.
    bool due(std::chrono::milliseconds idleFor);

private:
    int minutes_;
    bool lockedThisStretch_ = false;
};

// What happened, for the notification.
struct AutoLockOutcome {
    std::vector<std::string> locked;                        // display names
    std::vector<std::pair<std::string, std::string>> kept;  // display name, why
};

// The notification's text; empty when nothing was decrypted.
std::string autoLockMessage(LockTrigger trigger, const AutoLockOutcome& outcome);

}  // namespace vaultry::vault

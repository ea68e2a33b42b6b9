#include "vault/AutoLock.h"

#include <algorithm>

namespace vaultry::vault {

int autoLockMinutes(std::optional<std::uint64_t> stored) {
    if (!stored) return 0;
    for (int choice : kAutoLockChoices)
        if (*stored == static_cast<std::uint64_t>(choice)) return choice;
    return 0;
}

bool IdleWatch::due(std::chrono::milliseconds idleFor) {
    if (minutes_ <= 0) return false;
    if (idleFor < std::chrono::minutes(minutes_)) {
        lockedThisStretch_ = false;  // the user came back: the next stretch counts anew
        return false;
    }
    if (lockedThisStretch_) return false;
    lockedThisStretch_ = true;
    return true;
}

std::string autoLockMessage(LockTrigger trigger, const AutoLockOutcome& outcome) {
    if (outcome.locked.empty() && outcome.kept.empty()) return {};
    std::string why;
    switch (trigger) {
        case LockTrigger::SessionLocked:
            why = "The session was locked";
            break;
        case LockTrigger::BeforeSleep:
            why = "The computer is going to sleep";
            break;
        case LockTrigger::Logout:
            why = "You are logging out";
            break;
        case LockTrigger::Idle:
            why = "The session was idle";
            break;
    }
    std::string text = why + ".";
    if (!outcome.locked.empty()) {
        text += " Locked:";
        for (const auto& name : outcome.locked)
            text += " " + name + (&name == &outcome.locked.back() ? "." : ",");
    }
    for (const auto& [name, reason] : outcome.kept) text += " Not locked: " + name + " (" + reason + ").";
    return text;
}

}  // namespace vaultry::vault

#include "vault/PasswordStrength.h"

#include <zxcvbn.h>

#include <cmath>

#include "vault/PasswordVerifier.h"

namespace vaultry::password {
namespace {

constexpr double kMinute = 60;
constexpr double kHour = 60 * kMinute;
constexpr double kDay = 24 * kHour;
constexpr double kYear = 365.2425 * kDay;
constexpr double kMonth = kYear / 12;
constexpr double kCentury = 100 * kYear;

const char* name(Strength level) {
    switch (level) {
        case Strength::VeryWeak:
            return "Very weak";
        case Strength::Weak:
            return "Weak";
        case Strength::Fair:
            return "Fair";
        case Strength::Strong:
            return "Strong";
        case Strength::VeryStrong:
            break;
    }
    return "Very strong";
}

Strength levelOf(double seconds) {
    if (seconds < kHour) return Strength::VeryWeak;
    if (seconds < kYear) return Strength::Weak;
    if (seconds < kCentury) return Strength::Fair;
    if (seconds < 1e4 * kCentury) return Strength::Strong;
    return Strength::VeryStrong;
}

}  // namespace

std::string guessingTimeText(double seconds) {
    if (seconds < 1) return "less than a second";
    if (seconds >= kCentury) return "centuries";
    struct Unit {
        double seconds;
        const char* one;
    };
    static constexpr Unit kUnits[] = {{kYear, "year"}, {kMonth, "month"},   {kDay, "day"},
                                      {kHour, "hour"}, {kMinute, "minute"}, {1, "second"}};
    for (const auto& unit : kUnits) {
        if (seconds < unit.seconds) continue;
        const auto count = std::llround(seconds / unit.seconds);
        return "about " + std::to_string(count) + " " + unit.one + (count == 1 ? "" : "s");
    }
    return "less than a second";
}

Verdict rate(std::string_view pass) {
    // zxcvbn reads a C string; the copy it reads lives in locked memory that is wiped after.
    const PassPhrase held(pass);
    const char* ownWords[] = {"vaultry", nullptr};
    const double bits = ZxcvbnMatch(held.view().data(), ownWords, nullptr);
    const double seconds = std::exp2(bits) / kGuessesPerSecond;
    const Strength level = levelOf(seconds);
    return {level, std::string(name(level)) + ": guessed in " + guessingTimeText(seconds) +
                       " at 10\u2074 guesses/s"};
}

}  // namespace vaultry::password

#pragma once
#include <string>
#include <string_view>

// How hard a pass phrase is to guess, from zxcvbn's estimate of the guesses it takes. Nothing
// here keeps the pass phrase: it is rated and forgotten.
namespace vaultry::password {

// From the weakest to the strongest; the order is the levels' order.
enum class Strength { VeryWeak, Weak, Fair, Strong, VeryStrong };

// The rate the times are told at: an attacker trying pass phrases against a slow key derivation.
inline constexpr double kGuessesPerSecond = 1e4;

struct Verdict {
    Strength level = Strength::VeryWeak;
    // One line for the user: "Weak: guessed in about 3 hours at 10⁴ guesses/s".
    std::string text;
};

// The level is that of the time the guesses take at kGuessesPerSecond: under an hour very
// weak, under a year weak, under a century fair, under a million years strong.
Verdict rate(std::string_view pass);

// The two weakest levels, at which a new pass phrase is worth a second thought.
inline bool isWeak(Strength level) { return level <= Strength::Weak; }

// A time in words, rounded to its largest unit: "less than a second", "about 1 minute",
// "about 3 hours", ..., "about 99 years", "centuries".
std::string guessingTimeText(double seconds);

}  // namespace vaultry::password

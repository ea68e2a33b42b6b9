#include "vault/PasswordStrength.h"

#include <gtest/gtest.h>

#include <string>

namespace vaultry::password {
namespace {

TEST(PasswordStrength, CommonWordsAreVeryWeakAndLongPassPhrasesVeryStrong) {
    for (const char* weak : {"", "password", "Password1", "letmein123", "vaultry", "qwerty"})
        EXPECT_EQ(rate(weak).level, Strength::VeryWeak) << weak;
    for (const char* strong :
         {"correct horse battery staple", "kX9$mQ2!vL7@pW4#", "7f3a9c1e5b8d2f4a6c0e9b1d3f5a"})
        EXPECT_EQ(rate(strong).level, Strength::VeryStrong) << strong;
}

TEST(PasswordStrength, LevelsRiseWithLengthAndRandomness) {
    // Each a longer or more random pass phrase than the one before it.
    const char* const ladder[] = {"pw",        "pw one",       "x7#Kq9",
                                  "x7#Kq9!zT", "x7#Kq9!zT2m$", "x7#Kq9!zT2m$ riverbank"};
    for (std::size_t i = 1; i < std::size(ladder); ++i)
        EXPECT_LE(rate(ladder[i - 1]).level, rate(ladder[i]).level) << ladder[i - 1] << " / " << ladder[i];
    EXPECT_LT(rate(ladder[0]).level, rate(ladder[std::size(ladder) - 1]).level);
    // A short random one is weak or fair: neither among the common words nor safe for long.
    const auto shortRandom = rate("x7#Kq9").level;
    EXPECT_GE(shortRandom, Strength::Weak);
    EXPECT_LE(shortRandom, Strength::Fair);
}

TEST(PasswordStrength, TheVerdictNamesTheLevelAndTheTimeAtTheRate) {
    const auto weak = rate("password");
    EXPECT_EQ(weak.text, "Very weak: guessed in less than a second at 10\u2074 guesses/s");
    EXPECT_TRUE(isWeak(weak.level));
    const auto strong = rate("correct horse battery staple");
    EXPECT_EQ(strong.text, "Very strong: guessed in centuries at 10\u2074 guesses/s");
    EXPECT_FALSE(isWeak(strong.level));
    EXPECT_TRUE(isWeak(Strength::Weak));
    EXPECT_FALSE(isWeak(Strength::Fair));
    // Every verdict begins with its level's name.
    const char* const names[] = {"Very weak", "Weak", "Fair", "Strong", "Very strong"};
    for (const char* pass : {"pw one", "blue kettle", "x7#Kq9", "x7#Kq9!zT", "Tr0ub4dor&3"}) {
        const auto v = rate(pass);
        EXPECT_EQ(v.text.rfind(std::string(names[static_cast<int>(v.level)]) + ": guessed in ", 0), 0u)
            << v.text;
        EXPECT_NE(v.text.find(" at 10\u2074 guesses/s"), std::string::npos) << v.text;
    }
}

TEST(PasswordStrength, TimesAreToldInTheirLargestUnit) {
    EXPECT_EQ(guessingTimeText(0), "less than a second");
    EXPECT_EQ(guessingTimeText(0.4), "less than a second");
    EXPECT_EQ(guessingTimeText(1), "about 1 second");
    EXPECT_EQ(guessingTimeText(42), "about 42 seconds");
    EXPECT_EQ(guessingTimeText(60), "about 1 minute");
    EXPECT_EQ(guessingTimeText(3 * 3600 + 600), "about 3 hours");
    EXPECT_EQ(guessingTimeText(2 * 86400), "about 2 days");
    EXPECT_EQ(guessingTimeText(75 * 86400), "about 2 months");
    EXPECT_EQ(guessingTimeText(5 * 365.25 * 86400), "about 5 years");
    EXPECT_EQ(guessingTimeText(300 * 365.25 * 86400), "centuries");
    EXPECT_EQ(guessingTimeText(1e300 * 1e300), "centuries");  // beyond any number
}

}  // namespace
}  // namespace vaultry::password

#include <gtest/gtest.h>

#include "policies/logic/number_checks.h"

namespace kestrix::policies {
namespace {

TEST(NumberChecksTest, KeyFilterPassesControlKeysDigitsPointAndSlashOnly) {
    for (char32_t key : {U'\b', U'\r', U'0', U'9', U'.', U'/'})
        EXPECT_TRUE(numericKeyAccepted(key)) << static_cast<int>(key);
    for (char32_t key : {U' ', U'-', U'+', U'e', U':', U'\x1f', U'\u00e9'})
        EXPECT_FALSE(numericKeyAccepted(key)) << static_cast<int>(key);
    // The address box also takes what patterns and ranges are written with.
    for (char32_t key : {U'\b', U'0', U'.', U'/', U'*', U'-'})
        EXPECT_TRUE(addressKeyAccepted(key)) << static_cast<int>(key);
    for (char32_t key : {U' ', U'+', U'\'', U':', U'a', U'\u00e9'})
        EXPECT_FALSE(addressKeyAccepted(key)) << static_cast<int>(key);
}

// What the key filter lets through, or a paste brings, is checked again
// before it may stand unquoted in a statement.
TEST(NumberChecksTest, OnlyPlainNumbersPass) {
    for (const char* text : {"0", "5", "-1", "00012"})
        EXPECT_TRUE(isWholeNumber(text)) << text;
    for (const char* text : {"", "-", "1/2", "1.2", "0--", "1 ", "1e3", "+1", "--1"})
        EXPECT_FALSE(isWholeNumber(text)) << text;
    for (const char* text : {"12", "0.5", ".5", "5.", "1048576"})
        EXPECT_TRUE(isDecimalNumber(text)) << text;
    for (const char* text : {"", ".", "1.2.3", "1/2", "-1", "1,5", "1e3", "0--"})
        EXPECT_FALSE(isDecimalNumber(text)) << text;
    EXPECT_EQ(notANumber("idle timeout").text,
              "The value in the idle timeout field must be a number.");
}

// What a number box takes while it is typed into: digits, one point where
// fractions belong, no more decimals or whole digits than the range has.
TEST(NumberChecksTest, TypingTakesOnlyWhatTheBoxCanKeep) {
    const NumberRange minutes{"idle timeout", 0, 99999999};
    const NumberRange megabytes{"Maximum Quota", 0, 8589934592, false, "Mb", 2};
    for (const char* text : {"", "0", "99999999", "000000001"})
        EXPECT_FALSE(untypableNumber(text, minutes)) << text;
    for (const char* text : {"-5", "5a", "1.5", "1e3", "123456789", " 5"})
        EXPECT_TRUE(untypableNumber(text, minutes)) << text;
    for (const char* text : {"1.53", ".5", "5.", "8589934592.99"})
        EXPECT_FALSE(untypableNumber(text, megabytes)) << text;
    for (const char* text : {"1.537", "1.5e3", "1..5", "1.5.3", "+1", "85899345920"})
        EXPECT_TRUE(untypableNumber(text, megabytes)) << text;
    EXPECT_EQ(*untypableNumber("-5", minutes),
              "The idle timeout field takes a whole number from 0 to 99999999: \"-5\" cannot "
              "stand there.");
    EXPECT_EQ(*untypableNumber("1.537", megabytes),
              "The Maximum Quota field takes a number from 0 to 8589934592 Mb, with at most 2 "
              "decimals: \"1.537\" cannot stand there.");
}

}  // namespace
}  // namespace kestrix::policies

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

}  // namespace
}  // namespace kestrix::policies

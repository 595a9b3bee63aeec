#include <gtest/gtest.h>

#include "core/text_routines.h"
#include "users/status_lines.h"

namespace kestrix {
namespace {

// disable_user arrives as text; only a leading numeric part of 1 disables.
TEST(DisableUserTest, LeadingNumericPartDecides) {
    for (const char* text : {"1", "1.0", " 1", "\t1", "1abc", "+1", "01", "1e0", "0.1e1"})
        EXPECT_TRUE(disableUserSet(text)) << '"' << text << '"';
    for (const char* text : {"0", "2", "", "abc", "-1", "1.5", "10", ".", "e1", "x1", "0x1"})
        EXPECT_FALSE(disableUserSet(text)) << '"' << text << '"';
}

TEST(DisableUserTest, LeadingNumberReadsDigitsFractionAndExponent) {
    EXPECT_DOUBLE_EQ(leadingNumber("  12.5kg"), 12.5);
    EXPECT_DOUBLE_EQ(leadingNumber("-3"), -3.0);
    EXPECT_DOUBLE_EQ(leadingNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(leadingNumber("2e3x"), 2000.0);
    EXPECT_DOUBLE_EQ(leadingNumber("2e"), 2.0);
    EXPECT_DOUBLE_EQ(leadingNumber("abc"), 0.0);
}

}  // namespace
}  // namespace kestrix

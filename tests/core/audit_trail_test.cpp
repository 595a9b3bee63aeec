// How the audit trail writes a value.
#include "core/audit_trail.h"

#include <gtest/gtest.h>

namespace kestrix::audit {
namespace {

TEST(AuditTrail, ValuesCannotEndTheLineOrForgeAField) {
    EXPECT_EQ(quotedValue("bob"), "\"bob\"");
    EXPECT_EQ(quotedValue("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(quotedValue("one\ntwo\r\tthree"), "\"one\\ntwo\\r\\tthree\"");
    EXPECT_EQ(quotedValue(std::string("nul\0bell\a del\x7f", 14)),
              "\"nul\\x00bell\\x07 del\\x7F\"");
    // NEL and the line separator end lines for some readers; other text stays.
    EXPECT_EQ(quotedValue("a\xC2\x85z \xE2\x80\xA8 Jürgen"), "\"a\\u0085z \\u2028 Jürgen\"");
    // Bytes that are no UTF-8: a lone continuation, a cut sequence, overlong.
    EXPECT_EQ(quotedValue("\x80x\xE2\x82"), "\"\\x80x\\xE2\\x82\"");
    EXPECT_EQ(quotedValue("\xC0\xAF"), "\"\\xC0\\xAF\"");

    const std::string notes(5000, 'n');
    const std::string cut = quotedValue(notes);
    EXPECT_LT(cut.size(), 1100u);
    EXPECT_NE(cut.find("...(3976 more bytes)\""), std::string::npos) << cut;
    // A cut never splits a character.
    const std::string umlauts = quotedValue(std::string(1023, 'x') + "ü");
    EXPECT_NE(umlauts.find("xx...(2 more bytes)\""), std::string::npos) << umlauts;
}

}  // namespace
}  // namespace kestrix::audit

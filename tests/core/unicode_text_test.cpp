// Well-formed UTF-8 and the characters a name must not hold.
#include <gtest/gtest.h>

#include "core/unicode_text.h"

namespace kestrix {
namespace {

TEST(UnicodeText, WellFormedUtf8AndItsLength) {
    EXPECT_EQ(utf8Length(""), 0u);
    EXPECT_EQ(utf8Length("henry"), 5u);
    EXPECT_EQ(utf8Length("\xef\xbd\x88\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), 4u);
    for (const char* bad : {"\xff", "a\x80", "\xc3", "\xe2\x82", "\xc0\xaf",  // overlong '/'
                            "\xed\xa0\x80",                                   // a surrogate
                            "\xf4\x90\x80\x80"}) {                            // above U+10FFFF
        EXPECT_FALSE(isValidUtf8(bad)) << bad;
        EXPECT_EQ(utf8Length(bad), std::nullopt);
    }
}

TEST(UnicodeText, ControlAndFormatCharactersAreFound) {
    EXPECT_FALSE(holdsControlOrFormat("henry"));
    EXPECT_FALSE(holdsControlOrFormat("\xef\xbd\x88\xef\xbd\x85\xef\xbd\x8e"));  // full-width
    EXPECT_FALSE(holdsControlOrFormat("J\xc3\xbcrgen O'Brien-Smith"));
    for (const char* hidden : {"hen\xc2\xadry",                          // soft hyphen
                               "hen\xe2\x80\x8bry",                      // zero-width space
                               "hen\xe2\x80\x8dry",                      // zero-width joiner
                               "\xe2\x80\xaehenry",                      // right-to-left override
                               "henry\xef\xbb\xbf",                      // byte order mark
                               "hen\try", "henry\x7f", "hen\xc2\x85ry",  // C0, DEL, C1
                               "\xf3\xa0\x80\x81",                       // language tag
                               "hen\xffry"}) {                           // not UTF-8 at all
        EXPECT_TRUE(holdsControlOrFormat(hidden)) << hidden;
    }
}

}  // namespace
}  // namespace kestrix

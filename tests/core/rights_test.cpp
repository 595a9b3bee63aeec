#include <gtest/gtest.h>

#include "core/rights.h"

namespace kestrix {
namespace {

TEST(RightsTest, EncodesInTheFixedLetterOrder) {
    EXPECT_EQ(encodeRights({}), "");
    EXPECT_EQ(encodeRights(decodeRights("DCLEMAWR")), "RWAMELCD");
    Rights r;
    r.read = r.list = true;
    EXPECT_EQ(encodeRights(r), "RL");
    r = {};
    r.remove = true;  // the file right Delete is M
    r.rmdir = true;   // the directory right Remove is D
    EXPECT_EQ(encodeRights(r), "MD");
}

TEST(RightsTest, DecodesLettersAnywhereWithoutRegardToCase) {
    Rights rw;
    rw.read = rw.write = true;
    EXPECT_EQ(decodeRights("rwx"), rw);
    Rights dlr;
    dlr.read = dlr.list = dlr.rmdir = true;
    EXPECT_EQ(decodeRights("DLR"), dlr);
    EXPECT_EQ(decodeRights(""), Rights{});
    EXPECT_EQ(decodeRights("xyz 123"), Rights{});
    EXPECT_TRUE(hasRight("rl", 'L'));
    EXPECT_FALSE(hasRight("RL", 'W'));
}

TEST(RightsTest, InheritOnlyForOneWithBlanksAround) {
    EXPECT_TRUE(decodeInherit("1"));
    EXPECT_TRUE(decodeInherit(" 1 "));
    EXPECT_FALSE(decodeInherit("2"));
    EXPECT_FALSE(decodeInherit(""));
    EXPECT_FALSE(decodeInherit("true"));
    EXPECT_FALSE(decodeInherit("11"));
}

}  // namespace
}  // namespace kestrix

#include <gtest/gtest.h>

#include "core/address_pattern.h"

namespace kestrix {
namespace {

using Kind = AddressPattern::Kind;

TEST(AddressPatternTest, EntriesOfTheThreeFormsAndNothingElse) {
    for (const auto& [entry, kind] : {std::pair{"10.0.0.7", Kind::Address},
                                      {"010.0.0.7", Kind::Address},
                                      {"127.0.0.*", Kind::Pattern},
                                      {"0-255.5-5.*.1", Kind::Pattern},
                                      {"192.168.1.0/24", Kind::Block},
                                      {"0.0.0.0/0", Kind::Block}}) {
        const auto pattern = AddressPattern::parse(entry);
        ASSERT_TRUE(pattern) << entry;
        EXPECT_EQ(pattern->kind(), kind) << entry;
    }
    for (const char* invalid :
         {"", "1..2.3", "1.2.3.4'--", "192.168.0", "1.2.3.4.5", "1.1.1.256", "1/2.3.4.5",
          " 1.2.3.4", "1.2.3.+1", "10.20-1.0.0", "10.5-.0.0", "10.1-2-3.0.0", "10.*5.0.0",
          "10.0.0.0/33", "10.0.0.0/", "10.0.0.*/8", "10.0.0/8", "::ffff:10.0.0.7"})
        EXPECT_FALSE(isAddressEntry(invalid)) << '"' << invalid << '"';
    EXPECT_FALSE(isAddressEntry(std::string_view("1.2.3.4\0", 8)));
}

TEST(AddressPatternTest, ClientAddressesAreReadAsNumbers) {
    constexpr Ipv4 kTenZeroZeroSeven = 0x0a000007;
    for (const char* same : {"10.0.0.7", "010.0.0.7", "10.000.0.07", "::ffff:10.0.0.7",
                             "::FFFF:010.0.0.7", "0:0:0:0:0:ffff:a00:7", " 10.0.0.7 "})
        EXPECT_EQ(parseClientAddress(same), kTenZeroZeroSeven) << same;
    for (const char* none :
         {"", "10.0.0", "10.0.0.256", "::1", "::10.0.0.7", "0xa.0.0.7", "10.0.0.7x"})
        EXPECT_FALSE(parseClientAddress(none)) << none;
}

TEST(AddressPatternTest, ListsMatchTheClientsTheyName) {
    AddressList list;
    EXPECT_FALSE(list.matches("10.0.0.7"));
    for (const char* row : {"10.0.0.7", "127.0.0.*", "192.168.1.0/24", "172.16.3-5.1-9",
                            "100.64.0.0/10", "10.9.8.7/16"})
        EXPECT_TRUE(list.add(row)) << row;
    // Rows stored before the check never match, not even their own text.
    for (const char* row : {"1..2.3", "", "1.2.3.4'--", "10.2"})
        EXPECT_FALSE(list.add(row)) << row;
    EXPECT_EQ(list.size(), 6u);
    EXPECT_EQ(list.leftOut(), 4u);

    for (const char* blocked : {"010.0.0.7", "::ffff:10.0.0.7", "127.0.0.0", "127.0.0.255",
                                "192.168.1.0", "192.168.1.255", "172.16.3.1", "172.16.5.9",
                                "100.64.0.0", "100.127.255.255", "10.9.0.0", "10.9.255.255"})
        EXPECT_TRUE(list.matches(blocked)) << blocked;
    for (const char* free : {"10.0.0.8", "127.0.1.1", "192.168.0.255", "192.168.2.0", "172.16.2.1",
                             "172.16.6.1", "172.16.3.10", "172.16.3.0", "100.63.255.255",
                             "100.128.0.0", "10.10.0.0", "10.2", "1..2.3", "", "::1"})
        EXPECT_FALSE(list.matches(free)) << free;
}

}  // namespace
}  // namespace kestrix

#include <gtest/gtest.h>

#include "core/address_pattern.h"

namespace kestrix {
namespace {

using Kind = AddressPattern::Kind;

constexpr Ipv4 ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

TEST(AddressPatternTest, EntriesOfTheThreeFormsAndNothingElse) {
    struct Valid {
        const char* entry;
        Kind kind;
    };
    for (const Valid& v : {Valid{"10.0.0.7", Kind::Address}, Valid{"0.0.0.0", Kind::Address},
                           Valid{"255.255.255.255", Kind::Address},
                           Valid{"010.0.0.7", Kind::Address}, Valid{"127.0.0.*", Kind::Pattern},
                           Valid{"*.*.*.*", Kind::Pattern}, Valid{"10.1-20.0.0", Kind::Pattern},
                           Valid{"10.5-5.0.0", Kind::Pattern}, Valid{"0-255.*.7.1", Kind::Pattern},
                           Valid{"192.168.1.0/24", Kind::Block}, Valid{"10.0.0.0/8", Kind::Block},
                           Valid{"0.0.0.0/0", Kind::Block}, Valid{"10.0.0.7/32", Kind::Block}}) {
        const auto pattern = AddressPattern::parse(v.entry);
        ASSERT_TRUE(pattern) << v.entry;
        EXPECT_EQ(pattern->kind(), v.kind) << v.entry;
        EXPECT_TRUE(isAddressEntry(v.entry)) << v.entry;
    }
    for (const char* invalid : {"",
                                "1..2.3",
                                "1.2.3.4'--",
                                "192.168.0",
                                "1.2.3.4.5",
                                "300.1.1.1",
                                "1.1.1.256",
                                "...",
                                "1/2.3.4.5",
                                " 1.2.3.4",
                                "1.2.3.4 ",
                                "1.2.3.-1",
                                "1.2.3.+1",
                                "10.20-1.0.0",
                                "10.-5.0.0",
                                "10.5-.0.0",
                                "10.1-2-3.0.0",
                                "10.**.0.0",
                                "10.*5.0.0",
                                "10.0.0.0/33",
                                "10.0.0.0/",
                                "10.0.0.0/-1",
                                "10.0.0.*/8",
                                "10.0.0/8",
                                "10.0.0.0/8/8",
                                "::ffff:10.0.0.7",
                                "a.b.c.d",
                                "1.2.3.4\n"}) {
        EXPECT_FALSE(isAddressEntry(invalid)) << '"' << invalid << '"';
    }
    // A NUL inside the text is not the end of it.
    EXPECT_FALSE(isAddressEntry(std::string_view("1.2.3.4\0x", 9)));
}

TEST(AddressPatternTest, ClientAddressesAreReadAsNumbers) {
    EXPECT_EQ(parseClientAddress("10.0.0.7"), ip(10, 0, 0, 7));
    EXPECT_EQ(parseClientAddress("010.0.0.7"), ip(10, 0, 0, 7));  // decimal, not octal
    EXPECT_EQ(parseClientAddress("10.000.0.08"), ip(10, 0, 0, 8));
    EXPECT_EQ(parseClientAddress("::ffff:10.0.0.7"), ip(10, 0, 0, 7));
    EXPECT_EQ(parseClientAddress("::FFFF:010.0.0.7"), ip(10, 0, 0, 7));
    EXPECT_EQ(parseClientAddress("0:0:0:0:0:ffff:a00:7"), ip(10, 0, 0, 7));
    EXPECT_EQ(parseClientAddress(" 192.168.1.9 "), ip(192, 168, 1, 9));
    for (const char* none : {"", "10.0.0", "10.0.0.256", "::1", "2001:db8::10.0.0.7", "::10.0.0.7",
                             "0xa.0.0.7", "10.0.0.7x", "localhost"})
        EXPECT_FALSE(parseClientAddress(none)) << none;
}

TEST(AddressPatternTest, ListsMatchTheClientsTheyName) {
    AddressList list;
    EXPECT_FALSE(list.matches("10.0.0.7"));
    for (const char* row :
         {"10.0.0.7", "127.0.0.*", "192.168.1.0/24", "172.16.3-5.1-9", "100.64.0.0/10"})
        EXPECT_TRUE(list.add(row)) << row;
    // Rows stored before the check never match, even their own text.
    for (const char* row : {"1..2.3", "", "1.2.3.4'--", "10.2", "host.example"})
        EXPECT_FALSE(list.add(row)) << row;
    EXPECT_EQ(list.size(), 5u);
    EXPECT_EQ(list.leftOut(), 5u);

    for (const char* blocked :
         {"10.0.0.7", "010.0.0.7", "::ffff:10.0.0.7", "127.0.0.1", "127.0.0.255", "192.168.1.0",
          "192.168.1.255", "::ffff:192.168.1.77", "172.16.3.1", "172.16.5.9", "172.16.4.05",
          "100.64.0.1", "100.127.255.255"})
        EXPECT_TRUE(list.matches(blocked)) << blocked;
    for (const char* free :
         {"10.0.0.8", "10.0.0.70", "127.0.1.1", "192.168.0.255", "192.168.2.0", "172.16.2.1",
          "172.16.6.1", "172.16.3.10", "172.16.3.0", "100.63.255.255", "100.128.0.0", "1.2.3.4",
          "10.2", "1..2.3", "", "::1", "::ffff:10.0.0.8"})
        EXPECT_FALSE(list.matches(free)) << free;

    // A block written with host bits still names the whole block.
    AddressList loose;
    ASSERT_TRUE(loose.add("10.9.8.7/16"));
    EXPECT_TRUE(loose.matches(ip(10, 9, 0, 0)));
    EXPECT_TRUE(loose.matches(ip(10, 9, 255, 255)));
    EXPECT_FALSE(loose.matches(ip(10, 10, 0, 0)));
    AddressList everyone;
    ASSERT_TRUE(everyone.add("0.0.0.0/0"));
    EXPECT_TRUE(everyone.matches(ip(255, 255, 255, 255)));
    EXPECT_TRUE(everyone.matches(ip(0, 0, 0, 0)));
}

}  // namespace
}  // namespace kestrix

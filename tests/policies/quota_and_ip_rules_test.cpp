// The quota dialog's and the IP lists' logic: units, checks, statements.
#include <gtest/gtest.h>

#include "policies/logic/disk_quota_settings.h"
#include "policies/logic/ip_rules.h"

namespace kestrix::policies {
namespace {

TEST(DiskQuotaSettingsTest, UnitsShowAndWriteBackTheSameBytes) {
    const StoredQuota stored{"1", "10485760", "2000000"};
    const QuotaView mb = quotaView(stored, QuotaUnit::Mb);
    const QuotaView kb = quotaView(stored, QuotaUnit::Kb);
    EXPECT_TRUE(mb.enabled);
    EXPECT_EQ(mb.maximum, "10");
    EXPECT_EQ(mb.current, "1.907");
    EXPECT_EQ(kb.maximum, "10240");
    EXPECT_EQ(kb.current, "1953.125");
    // Unchanged: the remaining quota is left alone.
    const std::string unchanged =
        "update users set use_quota=1, quota_max=10485760 WHERE username='bob'";
    EXPECT_EQ(quotaUpdate("bob", true, mb.maximum, QuotaUnit::Mb, stored), unchanged);
    EXPECT_EQ(quotaUpdate("bob", true, kb.maximum, QuotaUnit::Kb, stored), unchanged);
    EXPECT_EQ(quotaView({std::nullopt, std::nullopt, std::nullopt}, QuotaUnit::Mb).maximum, "0");
}

TEST(DiskQuotaSettingsTest, TheRemainingQuotaFollowsTheSwitchAndTheMaximum) {
    // Switched on: the whole maximum remains.
    EXPECT_EQ(quotaUpdate("o'neil", true, "1", QuotaUnit::Mb, {"0", "0", "0"}),
              "update users set use_quota=1, quota_max=1048576, quota_current=1048576 WHERE "
              "username='o''neil'");
    // Lowered by 6 Mb with 5 Mb left: nothing remains; raised, it moves up.
    const StoredQuota on{"1", "10485760", "5242880"};
    EXPECT_EQ(quotaUpdate("bob", true, "4", QuotaUnit::Mb, on),
              "update users set use_quota=1, quota_max=4194304, quota_current=0 WHERE "
              "username='bob'");
    EXPECT_EQ(quotaUpdate("bob", true, "12288", QuotaUnit::Kb, on),
              "update users set use_quota=1, quota_max=12582912, quota_current=7340032 WHERE "
              "username='bob'");
    // Off: the maximum goes to 0, the remaining quota stays.
    EXPECT_EQ(quotaUpdate("bob", false, "", QuotaUnit::Mb, on),
              "update users set use_quota=0, quota_max=0 WHERE username='bob'");
}

TEST(DiskQuotaSettingsTest, OkChecksTheMaximumBox) {
    ASSERT_TRUE(checkQuota(true, "", QuotaUnit::Mb));
    EXPECT_EQ(checkQuota(true, "", QuotaUnit::Mb)->text,
              "You must enter a value for Maximum Quota when \r\nthe enable disk quota is "
              "checked.");
    EXPECT_FALSE(checkQuota(false, "", QuotaUnit::Mb));
    EXPECT_FALSE(checkQuota(true, "1234567890.12", QuotaUnit::Mb));
    // The box shows two decimals: a third would not come back as typed.
    ASSERT_TRUE(checkQuota(true, "1.234", QuotaUnit::Mb));
    EXPECT_EQ(checkQuota(true, "1.234", QuotaUnit::Mb)->text,
              "The value in the Maximum Quota field must be a number from 0 to 8589934592 Mb, "
              "with at most 2 decimals.");
    ASSERT_TRUE(checkQuota(false, "123456789012345", QuotaUnit::Mb));
    EXPECT_EQ(checkQuota(false, "123456789012345", QuotaUnit::Mb)->text,
              "The number of characters in the Maximum Quota field \r\nexceeds the maximum "
              "number of characters allowed.");
    for (const char* text : {"1.2.3", "1/2", " ", "."}) {
        ASSERT_TRUE(checkQuota(true, text, QuotaUnit::Mb)) << text;
        EXPECT_EQ(checkQuota(true, text, QuotaUnit::Mb)->text,
                  "The value in the Maximum Quota field must be a number.");
        EXPECT_EQ(checkQuota(true, text, QuotaUnit::Mb)->icon, MessageIcon::Exclamation);
    }
}

// Byte counts past 2 GiB are whole 64-bit numbers, up to the 2^53 bytes
// both engines keep exactly; a fraction of a byte is not stored.
TEST(DiskQuotaSettingsTest, LargeMaximumsAreWholeBytes) {
    // 2^53 bytes is 8589934592 Mb and 8796093022208 Kb.
    EXPECT_FALSE(checkQuota(true, "8589934592", QuotaUnit::Mb));
    EXPECT_FALSE(checkQuota(true, "8796093022208", QuotaUnit::Kb));
    for (const auto& [text, unit] :
         {std::pair{"8589934592.01", QuotaUnit::Mb}, std::pair{"8796093022209", QuotaUnit::Kb},
          std::pair{"99999999999999", QuotaUnit::Kb}}) {
        const auto refusal = checkQuota(true, text, unit);
        ASSERT_TRUE(refusal) << text;
        EXPECT_EQ(refusal->text,
                  std::string("The value in the Maximum Quota field must be a number "
                              "from 0 to ") +
                      (unit == QuotaUnit::Mb ? "8589934592 Mb." : "8796093022208 Kb."));
        EXPECT_EQ(refusal->icon, MessageIcon::Exclamation);
        // Off, the box is not written: nothing to refuse.
        EXPECT_FALSE(checkQuota(false, text, unit)) << text;
    }
    const StoredQuota off{"0", "0", "0"};
    EXPECT_EQ(quotaUpdate("bob", true, "5120", QuotaUnit::Mb, off),
              "update users set use_quota=1, quota_max=5368709120, quota_current=5368709120 "
              "WHERE username='bob'");
    EXPECT_EQ(quotaUpdate("bob", true, "8589934592", QuotaUnit::Mb, off),
              "update users set use_quota=1, quota_max=9007199254740992, "
              "quota_current=9007199254740992 WHERE username='bob'");
    EXPECT_EQ(quotaUpdate("bob", true, "0.3", QuotaUnit::Kb, off),
              "update users set use_quota=1, quota_max=307, quota_current=307 WHERE "
              "username='bob'");
    // A remaining quota past 2 GiB moves with the maximum.
    const StoredQuota on{"1", "5368709120", "4294967296"};
    EXPECT_EQ(quotaSetting(on).remaining, 4294967296LL);
    EXPECT_EQ(quotaUpdate("bob", true, "6144", QuotaUnit::Mb, on),
              "update users set use_quota=1, quota_max=6442450944, quota_current=5368709120 "
              "WHERE username='bob'");
    const QuotaView view = quotaView(on, QuotaUnit::Kb);
    EXPECT_EQ(view.maximum, "5242880");
    EXPECT_EQ(view.current, "4194304");
}

TEST(IpRulesTest, SameAddressesAndEveryAddress) {
    const std::vector<std::string> list{"10.0.0.7", "10.*.*.*", "not an entry"};
    EXPECT_EQ(sameEntryIn(list, "010.000.000.007"), "10.0.0.7");
    EXPECT_EQ(sameEntryIn(list, "10.0.0.0/8"), "10.*.*.*");
    EXPECT_EQ(sameEntryIn(list, "10.0.0.8"), std::nullopt);
    EXPECT_EQ(sameEntryIn(list, "10.0.0.0/9"), std::nullopt);
    for (const char* every : {"0.0.0.0/0", "*.*.*.*", "0-255.*.0-255.*"}) {
        const auto question = everyAddressQuestion({}, every);
        ASSERT_TRUE(question) << every;
        EXPECT_NE(question->text.find("every client would be locked out"), std::string::npos);
        EXPECT_EQ(question->buttons, MessageButtons::YesNo);
    }
    EXPECT_FALSE(everyAddressQuestion({}, "1.0.0.0/1"));
    EXPECT_FALSE(everyAddressQuestion({}, "*.*.*.1-255"));
}

TEST(IpRulesTest, StatementsOfBothLists) {
    const IpRuleScope bob{"o'neil"};
    const IpRuleScope server{};
    EXPECT_EQ(ipRulesSelect(bob), "select ip from blocked_ips_by_user where username='o''neil'");
    EXPECT_EQ(ipRulesSelect(server), "select ip from blocked_ips");
    EXPECT_EQ(ipRulesDelete(bob), "DELETE FROM blocked_ips_by_user WHERE username='o''neil'");
    EXPECT_EQ(ipRulesDelete(server), "delete from blocked_ips");
    EXPECT_EQ(ipRuleInsert(bob, "1.2.3.4"),
              "insert into blocked_ips_by_user (ip, username) values ('1.2.3.4', 'o''neil')");
    EXPECT_EQ(ipRuleInsert(server, "1'2"), "insert into blocked_ips (ip) values ('1''2')");
}

TEST(IpRulesTest, AddressValidationTable) {
    struct Case {
        const char* text;
        bool accepted;
        bool beep;
    };
    // Only what the plug-in matches, and what the column holds, is accepted.
    for (const Case& c :
         {Case{"", true, false}, Case{"192.168.0.1", true, true}, Case{"192.168.0", false, true},
          Case{"1.2.3.4.5", false, true}, Case{"300.1.1.1", false, false},
          Case{"1.1.1.256", false, false}, Case{"1..2.3", false, false},
          Case{"0.0.0.255", true, true}, Case{"1/2.3.4.5", false, false}, Case{"...", false, false},
          Case{"127.0.0.*", true, true}, Case{"192.168.1.0/24", true, true},
          Case{"10.0.0.1-5", true, true}, Case{"10.0.5-1.0", false, false},
          Case{"1.2.3.4'--", false, false}, Case{"::ffff:10.0.0.7", false, false},
          Case{"10.0.0.0/8/", false, false}, Case{"10.100-200.1.*", true, true},
          Case{"10.100-200.1-2.*", false, false}}) {
        const AddressCheck check = checkAddress(c.text);
        EXPECT_EQ(check.accepted, c.accepted) << c.text;
        EXPECT_EQ(check.beep, c.beep) << c.text;
        EXPECT_EQ(check.reason.empty(), c.accepted) << c.text;
    }
    EXPECT_EQ(checkAddress("300.1.1.1").reason,
              "\"300.1.1.1\" is not an IP address: each of its four parts must be a number from "
              "0 to 255, \"*\" or a range such as 10-20, and a block ends in /0 to /32.");
}

}  // namespace
}  // namespace kestrix::policies

// What the migration takes from the FTP server's own account file.
#include <gtest/gtest.h>

#include "maintenance/migration/account_plan.h"
#include "maintenance/migration/migration_run.h"
#include "maintenance/migration/windows_1252.h"
#include "tests/migration/sample_account_file.h"

namespace kestrix::migration::test {
namespace {

bool holds(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& line : lines)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

TEST(Windows1252, EveryByteHasItsCharacter) {
    EXPECT_EQ(windows1252ToUtf8("Jos\xe9"), "Jos\xc3\xa9");
    EXPECT_EQ(windows1252ToUtf8("\x80 \x9f \xa0 \xff"), "\xe2\x82\xac \xc5\xb8 \xc2\xa0 \xc3\xbf");
    EXPECT_EQ(windows1252ToUtf8("\x81\x8d"), "\xc2\x81\xc2\x8d");
    EXPECT_EQ(windows1252ToUtf8("plain"), "plain");
}

TEST(AccountReading, DomainFormUserWithEveryCarriedSetting) {
    const AccountPlan plan = planMigration(AccountFile::parse(domainFormFile()));
    ASSERT_EQ(plan.users.size(), 3u);
    const MigratedUser& a = plan.users[0];
    EXPECT_EQ(a.name, "alice");
    EXPECT_EQ(a.domainNumber, 1);
    EXPECT_EQ(a.password, "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46");
    EXPECT_EQ(a.homedir, "/srv/ftp/alice");
    EXPECT_EQ(a.relPath, 1);
    EXPECT_EQ(a.hideHiddenFiles, 1);
    EXPECT_EQ(a.alwaysLogin, 0);
    EXPECT_EQ(a.disabled, 1);
    EXPECT_EQ(a.maxConcurrent, 3);
    EXPECT_EQ(a.maxLoginsPerIp, 2);
    EXPECT_EQ(a.timeoutMinutes, 10);
    EXPECT_EQ(a.sessionTimeoutMinutes, 2);  // 90 seconds: never shorter than before
    EXPECT_EQ(a.speedLimitKbps, "20");      // the lower of 20480 and 102400 bytes/s
    EXPECT_TRUE(holds(a.warnings, "20 KBps"));
    EXPECT_EQ(a.loginMessageFile, "/srv/ftp/welcome.txt");
    EXPECT_EQ(a.useQuota, 1);
    EXPECT_EQ(a.quotaMax, 104857600.0);
    EXPECT_EQ(a.quotaCurrent, 5242880.0);
    EXPECT_EQ(a.comments, "first line\r\nsecond line");

    // Numbered in order 1, 3 (2 is a wildcard rule), stored last first.
    ASSERT_EQ(a.rules.size(), 2u);
    EXPECT_EQ(a.rules[0].directory, "/srv/ftp/alice/pub");
    EXPECT_EQ(a.rules[0].rights, "RL");
    EXPECT_EQ(a.rules[0].inheritSubdirs, 1);
    EXPECT_EQ(a.rules[1].directory, "/srv/ftp/alice");
    EXPECT_EQ(a.rules[1].rights, "RWAMLCD");

    // Deny rules with a "*" or a range for a part are carried; allow rules,
    // blocks the server does not write, host names and rules longer than the
    // column are not.
    EXPECT_EQ(a.blockedIps, (std::vector<std::string>{"10.0.0.7", "10.1.*.*", "172.16.1-9.0"}));
    EXPECT_TRUE(holds(a.notCarried, "Access2=/srv/ftp/alice/*.tmp|R"));
    EXPECT_TRUE(holds(a.notCarried, "IPAccess2=A|192.168.*.*"));
    EXPECT_TRUE(holds(a.notCarried, "IPAccess5=D|10.2.0.0/16"));
    EXPECT_TRUE(holds(a.notCarried, "IPAccess6=D|172.16.100-200.*"));
    EXPECT_TRUE(holds(a.notCarried, "IPAccess7=D|*.example.com"));
    EXPECT_TRUE(holds(a.notCarried, "Maintenance=System"));
    EXPECT_TRUE(holds(a.notCarried, "ChangePassword=1"));
    EXPECT_EQ(a.notCarried.size(), 7u);
}

TEST(AccountReading, EightBitNamesNoLimitsWindowsPathsAndSecrets) {
    const AccountPlan plan = planMigration(AccountFile::parse(domainFormFile()));
    ASSERT_EQ(plan.users.size(), 3u);
    const MigratedUser& jose = plan.users[1];
    EXPECT_EQ(jose.name, "Jos\xc3\xa9");  // lower-case "user=" section, Windows-1252 name
    // DES crypt belongs to the old form: in this one it is the password itself.
    EXPECT_FALSE(jose.passwordHash.has_value());
    EXPECT_TRUE(holds(jose.warnings, "looks like a DES crypt hash"));
    EXPECT_EQ(jose.homedir, "D:\\ftp\\jose");  // kept as it stands, and pointed out
    EXPECT_TRUE(holds(jose.warnings, "Windows path"));
    EXPECT_EQ(jose.timeoutMinutes, -1);
    EXPECT_EQ(jose.maxConcurrent, -1);
    EXPECT_EQ(jose.maxLoginsPerIp, 0);
    EXPECT_EQ(jose.speedLimitKbps, "0");
    EXPECT_FALSE(jose.quotaMax.has_value());

    const MigratedUser& anonymous = plan.users[2];
    EXPECT_FALSE(anonymous.password.has_value());
    EXPECT_TRUE(holds(anonymous.warnings, "no password"));
    // A one-time-password seed is named, never shown.
    EXPECT_TRUE(holds(anonymous.notCarried, "SKEYValues"));
    EXPECT_FALSE(holds(anonymous.notCarried, "secret-seed"));

    ASSERT_EQ(plan.domains.size(), 1u);
    EXPECT_EQ(plan.domains[0].name, "Main site");
    EXPECT_EQ(plan.domains[0].port, "21");
    EXPECT_EQ(plan.domains[0].number, 1);
    ASSERT_EQ(plan.members.size(), 3u);
    EXPECT_EQ(plan.members[1].userName, "Jos\xc3\xa9");
    EXPECT_EQ(plan.members[1].flags, "1|0");
}

TEST(AccountReading, OldFormWithoutDomainsAndEmptyPassword) {
    const AccountPlan plan = planMigration(AccountFile::parse(oldFormFile()));
    ASSERT_EQ(plan.users.size(), 2u);
    EXPECT_EQ(plan.users[0].name, "carol");
    EXPECT_FALSE(plan.users[0].domainNumber.has_value());
    EXPECT_EQ(plan.users[0].password, "");
    EXPECT_TRUE(holds(plan.users[0].warnings, "empty password"));
    EXPECT_EQ(plan.users[1].password, "plain secret");
    ASSERT_EQ(plan.users[1].rules.size(), 1u);
    EXPECT_EQ(plan.users[1].rules[0].rights, "rl");  // letters as they are
    EXPECT_EQ(plan.users[1].rules[0].inheritSubdirs, 0);
    EXPECT_TRUE(plan.domains.empty());
    EXPECT_TRUE(plan.members.empty());
}

TEST(AccountReading, UnreadableLinesAreNamedByNumberAndTheirUsersLeftOut) {
    const std::string file =
        "[USER=alice]\r\nPassword=a\r\nHomeDir=/srv/a\r\n"
        "[USER=carl\r\nPassword=c\r\nHomeDir=/srv/c\r\n"
        "[USER=dora]\r\nPassword=d\r\nHomeDir /srv/d\r\n"
        "[USER=erin] ; kept\r\nPassword=e\r\n";
    const AccountPlan plan = planMigration(AccountFile::parse(file));
    std::vector<std::string> names;
    for (const MigratedUser& user : plan.users)
        names.push_back(user.name);
    // carl's header is not whole and dora's section has a line without =:
    // neither is migrated. erin's header is whole, comment and all.
    EXPECT_EQ(names, (std::vector<std::string>{"alice", "erin"}));
    ASSERT_EQ(plan.unreadLines.size(), 2u);
    EXPECT_EQ(
        plan.unreadLines[0].rfind("line 4 ([USER=carl): the section header has no closing ]", 0),
        0u)
        << plan.unreadLines[0];
    EXPECT_EQ(plan.unreadLines[1],
              "line 9 (HomeDir /srv/d): the line has no = between a key and its value; user "
              "dora is not migrated");
    EXPECT_EQ(plan.users[0].homedir, "/srv/a");  // carl's keys did not reach alice

    // The report after the run names them too.
    MigrationResult result;
    result.accountFilePath = "ServUDaemon.ini";
    result.plan = plan;
    result.outcome.committed = true;
    result.outcome.written = {"alice", "erin"};
    const std::string report = reportText(result);
    EXPECT_NE(report.find("  line 9 (HomeDir /srv/d)"), std::string::npos) << report;
    EXPECT_NE(findingsText("ServUDaemon.ini", plan).find("  line 4 ([USER=carl)"),
              std::string::npos);
}

}  // namespace
}  // namespace kestrix::migration::test

// Account files at the edges: their encodings, passwords, unreadable values,
// NUL characters, allow rules and repeated names, read from the test data
// and written on both engines; the bulk writes, their refusals and Cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "core/database.h"
#include "core/stored_password.h"
#include "maintenance/migration/account_writer.h"
#include "maintenance/migration/migration_run.h"
#include "tests/support/scratch.h"

namespace kestrix::migration::test {
namespace {

using kestrix::test::makeScratchDatabase;
using kestrix::test::ScratchDatabase;

std::string dataFile(const char* name) {
    return std::string(KESTRIX_MIGRATION_DATA) + "/" + name;
}

AccountPlan planOf(const char* name) {
    LoadedAccounts loaded = loadAccounts(dataFile(name));
    EXPECT_EQ(loaded.problem, "") << name;
    return std::move(loaded.plan);
}

const MigratedUser& userNamed(const AccountPlan& plan, const std::string& name) {
    const auto found = std::find_if(plan.users.begin(), plan.users.end(),
                                    [&](const MigratedUser& u) { return u.name == name; });
    if (found == plan.users.end()) throw std::runtime_error("no user " + name + " in the plan");
    return *found;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(MigrationCases, Utf8FilesAreReadAsUtf8AndSaidSo) {
    const AccountPlan marked = planOf("utf8_with_mark.ini");
    ASSERT_EQ(marked.users.size(), 2u);
    EXPECT_EQ(marked.users[0].name, "zo\xc3\xab");  // not hidden behind the mark
    EXPECT_EQ(marked.users[0].comments,
              "Stra\xc3\x9f"
              "e 5 \xe2\x80\x93 B\xc3\xbcro");
    EXPECT_EQ(marked.encoding, TextEncoding::Utf8);
    EXPECT_TRUE(marked.byteOrderMark);
    const std::string findings = findingsText("utf8_with_mark.ini", marked);
    EXPECT_TRUE(contains(findings, "UTF-8 (it begins with a byte-order mark)")) << findings;
    EXPECT_TRUE(contains(findings, "2 users")) << findings;

    const AccountPlan unmarked = planOf("utf8_without_mark.ini");
    ASSERT_EQ(unmarked.users.size(), 1u);
    EXPECT_EQ(unmarked.users[0].name,
              "ren\xc3\xa9"
              "e");
    EXPECT_EQ(unmarked.encoding, TextEncoding::Utf8);
    EXPECT_FALSE(unmarked.byteOrderMark);
    EXPECT_TRUE(contains(findingsText("f.ini", unmarked), "read as UTF-8"));

    // The server's own code page stays the reading of 8-bit text, and of a
    // mark followed by text that is not UTF-8.
    const AccountFile cp1252 = AccountFile::parse("[USER=Jos\xe9]\r\nHomeDir=/x\r\n");
    EXPECT_EQ(cp1252.encoding(), TextEncoding::Windows1252);
    EXPECT_EQ(cp1252.sections()[0].name, "USER=Jos\xc3\xa9");
    const AccountFile falseMark = AccountFile::parse("\xef\xbb\xbf[USER=Jos\xe9]\r\n");
    EXPECT_EQ(falseMark.encoding(), TextEncoding::Windows1252);
    EXPECT_TRUE(falseMark.hadByteOrderMark());
    EXPECT_EQ(falseMark.sections()[0].name, "USER=Jos\xc3\xa9");
    EXPECT_FALSE(contains(findingsText("f.ini", planMigration(cp1252)), "UTF-8"));
}

TEST(MigrationCases, PasswordsAreHashesOnlyInTheirFilesOwnForm) {
    const AccountPlan domain = planOf("domain_passwords.ini");
    EXPECT_TRUE(domain.domainForm);
    const MigratedUser& hashed = userNamed(domain, "hashed");
    EXPECT_EQ(hashed.password, "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46");
    EXPECT_EQ(hashed.passwordHash, "salted MD5");
    EXPECT_TRUE(passwordMatches(*hashed.password, "TestPassword"));
    // Thirteen characters a DES crypt could have: the domain form has none.
    const MigratedUser& thirteen = userNamed(domain, "thirteen");
    EXPECT_FALSE(thirteen.passwordHash.has_value());
    ASSERT_TRUE(thirteen.password.has_value());
    EXPECT_TRUE(passwordMatches(*thirteen.password, "Summer2024abc"));
    EXPECT_TRUE(contains(joined(thirteen.warnings), "looks like a DES crypt hash"));
    const std::string domainFindings = findingsText("d.ini", domain);
    EXPECT_TRUE(contains(domainFindings, "Passwords taken as the server's hashes"));
    EXPECT_TRUE(contains(domainFindings, "  hashed: salted MD5\n")) << domainFindings;
    EXPECT_FALSE(contains(domainFindings, "thirteen: DES")) << domainFindings;

    const AccountPlan old = planOf("old_passwords.ini");
    EXPECT_FALSE(old.domainForm);
    const MigratedUser& crypted = userNamed(old, "crypted");
    EXPECT_EQ(crypted.password, "{CRYPT}xYSVpu6KN/ldI");
    EXPECT_EQ(crypted.passwordHash, "DES crypt");
    const MigratedUser& longPlain = userNamed(old, "longplain");
    EXPECT_FALSE(longPlain.passwordHash.has_value());
    ASSERT_TRUE(longPlain.password.has_value());
    EXPECT_TRUE(passwordMatches(*longPlain.password, "ab0123456789ABCDEF0123456789ABCDEF"));
    EXPECT_TRUE(contains(joined(longPlain.warnings), "looks like a salted MD5 hash"));
    EXPECT_TRUE(contains(findingsText("o.ini", old), "  crypted: DES crypt\n"));
}

TEST(MigrationCases, AllowRulesThatCannotBeKeptAreNamedPerUser) {
    const AccountPlan plan = planOf("allow_rules.ini");
    const MigratedUser& office = userNamed(plan, "office");
    EXPECT_TRUE(contains(joined(office.warnings),
                         "could log in only from 192.168.1.10, 10.1.2.* on the server; now from "
                         "anywhere"))
        << joined(office.warnings);
    EXPECT_EQ(office.blockedIps, std::vector<std::string>{"10.9.9.9"});
    EXPECT_FALSE(contains(joined(userNamed(plan, "open").warnings), "could log in only"));
}

class MigrationCasesWritten : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
    }

    // Writes the plan and returns the report of the run.
    std::string migrate(const AccountPlan& plan, bool withDomains = false) {
        result_.accountFilePath = "ServUDaemon.ini";
        result_.plan = plan;
        result_.domainsAsked = withDomains;
        result_.outcome = writeAccounts(db_, plan, withDomains);
        EXPECT_TRUE(result_.outcome.committed) << result_.outcome.failure;
        return reportText(result_);
    }

    void exec(const std::string& sql) { ASSERT_TRUE(db_.execute(sql)) << db_.lastError(); }

    long long count(const std::string& sql) {
        auto rows = db_.query(sql);
        EXPECT_TRUE(rows) << db_.lastError();
        return rows && !rows->eof() ? rows->integer(rows->columnNames().front()).value_or(-1) : -1;
    }

    std::string reasonFor(const std::string& name, std::size_t nth = 0) const {
        for (const auto& [skipped, reason] : result_.outcome.skipped)
            if (skipped == name && nth-- == 0) return reason;
        return "(not skipped)";
    }

    std::unique_ptr<ScratchDatabase> scratch_;
    Database db_;
    MigrationResult result_;
};

TEST_P(MigrationCasesWritten, UnreadableLimitsDisableAndOverfullQuotaIsClamped) {
    const std::string report = migrate(planOf("unreadable_limits.ini"));
    EXPECT_EQ(result_.outcome.written.size(), 5u);
    for (const char* name : {"noenable", "badlimit", "badquota"})
        EXPECT_EQ(
            count(std::string("select disable_user from users where username='") + name + "'"), 1)
            << name;
    EXPECT_EQ(count("select disable_user from users where username='fine'"), 0);
    EXPECT_EQ(count("select max_concurrent from users where username='fine'"), 2);
    EXPECT_EQ(count("select max_concurrent from users where username='badlimit'"), -1);
    EXPECT_EQ(count("select disable_user from users where username='overfull'"), 0);
    EXPECT_EQ(count("select quota_max from users where username='overfull'"), 100);
    EXPECT_EQ(count("select quota_current from users where username='overfull'"), 100);
    EXPECT_EQ(count("select use_quota from users where username='overfull'"), 1);
    EXPECT_TRUE(contains(report, "noenable: Enable=no cannot be read: the account is disabled"))
        << report;
    EXPECT_TRUE(contains(report, "badlimit: MaxNrUsers=three cannot be read")) << report;
    EXPECT_TRUE(contains(report, "badquota: DiskQuota=1|lots|0 cannot be read")) << report;
    EXPECT_TRUE(contains(report, "overfull: disk quota: 500 bytes in use, above the maximum"))
        << report;
    EXPECT_FALSE(contains(report, "fine:")) << report;
}

TEST_P(MigrationCasesWritten, ValuesHoldingNulAreRefusedAndReported) {
    const std::string report = migrate(planOf("nul_values.ini"));
    EXPECT_EQ(result_.outcome.written, (std::vector<std::string>{"nul", "clean"}));
    EXPECT_EQ(count("select count(*) from users where username='nul' and password is null and "
                    "comments is null and homedir='/srv/ftp/nul'"),
              1);
    // The time-out limited the account: unreadable, it disables it.
    EXPECT_EQ(count("select disable_user from users where username='nul'"), 1);
    EXPECT_EQ(count("select timeout from users where username='nul'"), -1);
    EXPECT_EQ(count("select count(*) from dir_rights"), 0);
    auto clean = db_.query("select password from users where username='clean'");
    ASSERT_TRUE(clean && !clean->eof());
    EXPECT_TRUE(passwordMatches(clean->text("password"), "clean"));
    EXPECT_NE(clean->text("password"), "clean");
    for (const char* key : {"Password", "Note1", "TimeOut", "Access1"})
        EXPECT_TRUE(contains(
            report, std::string("nul: ") + key + " (the value holds a NUL character: refused)"))
            << key << "\n"
            << report;
    EXPECT_TRUE(contains(report, "the password holds a NUL character")) << report;
    // The secret's parts never reach the report.
    EXPECT_FALSE(contains(report, "cret")) << report;
}

TEST_P(MigrationCasesWritten, NamesTwiceInTheFileAreSaidToBeSo) {
    exec(
        "insert into users (username, homedir, max_concurrent, max_logins_per_ip) values "
        "('ELSA', '/home/elsa', 1, 1)");
    AccountPlan plan = planOf("twice_in_file.ini");
    MigratedUser elsa;
    elsa.name = "elsa";
    elsa.homedir = "/srv/ftp/elsa";
    plan.users.push_back(elsa);
    plan.users.push_back(elsa);
    const std::string report = migrate(plan, true);
    EXPECT_EQ(result_.outcome.written, (std::vector<std::string>{"Carla", "dora"}));
    EXPECT_TRUE(contains(reasonFor("CARLA"), "twice in the file")) << reasonFor("CARLA");
    EXPECT_TRUE(contains(reasonFor("dora"), "twice in the file")) << reasonFor("dora");
    // Already stored: that, not the repetition, is what keeps both out.
    EXPECT_TRUE(contains(reasonFor("elsa", 0), "already in the database"));
    EXPECT_TRUE(contains(reasonFor("elsa", 1), "already in the database"));
    EXPECT_EQ(count("select count(*) from users where homedir='/srv/ftp/dora'"), 1);
    EXPECT_EQ(count("select count(*) from users where homedir='/srv/ftp/dora2'"), 0);
    EXPECT_EQ(count("select count(*) from users where username='carla'"), 1);
    EXPECT_TRUE(contains(report, "CARLA: the name is twice in the file")) << report;
    if (GetParam() == Engine::SQLite) {
        EXPECT_EQ(count("select count(*) from domainDetails"), 2);
    }
}

TEST_P(MigrationCasesWritten, DroppedAllowRulesAreInTheReport) {
    const std::string report = migrate(planOf("allow_rules.ini"));
    EXPECT_TRUE(contains(report,
                         "office: could log in only from 192.168.1.10, 10.1.2.* on the server; "
                         "now from anywhere"))
        << report;
    EXPECT_EQ(count("select count(*) from blocked_ips_by_user where username='office'"), 1);
}

// A domain-form file of many users, each with three rules and a blocked
// address; the fifth name comes back at the end in capitals.
std::string manyUsers(int users) {
    std::string text = "[DOMAINS]\r\nDomain1=0.0.0.0||21|Main|1|0|0\r\n[Domain1]\r\n";
    char name[32];
    for (int i = 0; i < users; ++i) {
        std::snprintf(name, sizeof name, "user%04d", i);
        text += "User" + std::to_string(i + 1) + "=" + name + "|1|0\r\n";
    }
    for (int i = 0; i < users; ++i) {
        std::snprintf(name, sizeof name, "user%04d", i);
        const std::string home = std::string("/srv/ftp/") + name;
        // Hashes of the file's own form: kept as they are, where a plain
        // password would cost a slow hash each.
        text += std::string("[USER=") + name +
                "|1]\r\nPassword=" + saltedMd5("ab", "pw" + std::to_string(i)) +
                "\r\nHomeDir=" + home + "\r\nAccess1=" + home + "|RWAMLCDP\r\nAccess2=" + home +
                "/in|RW\r\nAccess3=" + home + "/out|RL\r\nIPAccess1=D|10.0." +
                std::to_string(i / 256) + "." + std::to_string(i % 256) + "\r\n";
    }
    text += "[USER=USER0005|1]\r\nPassword=again\r\nHomeDir=/srv/ftp/again\r\n";
    return text;
}

TEST_P(MigrationCasesWritten, ManyUsersInBatchesWithARefusalNamingItsUser) {
    const AccountPlan plan = planMigration(AccountFile::parse(manyUsers(1234)));
    ASSERT_EQ(plan.users.size(), 1235u);
    if (GetParam() == Engine::SQLite) {
        exec(
            "create trigger refuse before insert on dir_rights when new.username='user0777' "
            "begin select raise(abort, 'refused by the test'); end");
    } else {
        exec(
            "create function refuse_row() returns trigger as $$ begin raise exception "
            "'refused by the test'; end $$ language plpgsql");
        exec(
            "create trigger refuse before insert on dir_rights for each row when "
            "(new.username='user0777') execute function refuse_row()");
    }
    const WriteOutcome refused = writeAccounts(db_, plan, true);
    EXPECT_FALSE(refused.committed);
    EXPECT_TRUE(contains(refused.failure, "while writing user user0777")) << refused.failure;
    EXPECT_TRUE(contains(refused.failure, "refused by the test")) << refused.failure;
    for (const char* table : {"users", "dir_rights", "blocked_ips_by_user"})
        EXPECT_EQ(count(std::string("select count(*) from ") + table), 0) << table;

    exec("drop trigger refuse" + std::string(GetParam() == Engine::SQLite ? "" : " on dir_rights"));
    migrate(plan, true);
    EXPECT_EQ(result_.outcome.written.size(), 1234u);
    EXPECT_EQ(result_.outcome.skipped.size(), 1u);
    EXPECT_TRUE(contains(reasonFor("USER0005"), "twice in the file"));
    EXPECT_EQ(count("select count(*) from users"), 1234);
    EXPECT_EQ(count("select count(*) from dir_rights"), 3 * 1234);
    EXPECT_EQ(count("select count(*) from blocked_ips_by_user"), 1234);
    EXPECT_EQ(count("select count(*) from users where username='user1233' and "
                    "password='{SMD5}" +
                    saltedMd5("ab", "pw1233") + "' and homedir='/srv/ftp/user1233'"),
              1);
    EXPECT_EQ(count("select count(*) from blocked_ips_by_user where username='user1000' and "
                    "ip='10.0.3.232'"),
              1);
    EXPECT_EQ(count("select count(*) from users where homedir='/srv/ftp/again'"), 0);
    if (GetParam() == Engine::SQLite) {
        EXPECT_EQ(count("select count(*) from domainDetails"), 1234);
    }
}

TEST_P(MigrationCasesWritten, CancelUndoesEverything) {
    const AccountPlan plan = planMigration(AccountFile::parse(manyUsers(600)));
    std::vector<std::string> seen;
    const WriteOutcome out = writeAccounts(db_, plan, true, [&](const WriteStep& step) {
        if (seen.empty() || seen.back() != step.name) seen.push_back(step.name);
        // Half-way through the rules, with every user already written.
        return !(step.name == "Writing the directory rules" && step.done >= 1000);
    });
    EXPECT_TRUE(out.cancelled);
    EXPECT_FALSE(out.committed);
    EXPECT_TRUE(out.written.empty());
    EXPECT_EQ(seen, (std::vector<std::string>{"Checking the names", "Writing the users",
                                              "Writing the directory rules"}));
    for (const char* table : {"users", "dir_rights", "blocked_ips_by_user"})
        EXPECT_EQ(count(std::string("select count(*) from ") + table), 0) << table;
    MigrationResult result;
    result.plan = plan;
    result.outcome = out;
    EXPECT_TRUE(contains(reportText(result), "Cancelled: nothing was migrated"))
        << reportText(result);
    EXPECT_FALSE(result.migratedAny());

    // Cancelled while the names are being checked, then run again on the
    // same connection: nothing of the check is left in the way.
    const WriteOutcome early = writeAccounts(db_, plan, true, [](const WriteStep& step) {
        return !(step.name == "Checking the names" && step.done > 0);
    });
    EXPECT_TRUE(early.cancelled);
    EXPECT_TRUE(writeAccounts(db_, plan, true).committed);
    EXPECT_EQ(count("select count(*) from users"), 600);
}

INSTANTIATE_TEST_SUITE_P(Engines, MigrationCasesWritten,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return kestrix::test::engineName(info.param); });

}  // namespace
}  // namespace kestrix::migration::test

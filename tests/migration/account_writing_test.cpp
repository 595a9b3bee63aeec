// The migration's writes, on both database engines.
#include <gtest/gtest.h>

#include "core/database.h"
#include "core/schema.h"
#include "core/stored_password.h"
#include "maintenance/migration/account_writer.h"
#include "maintenance/migration/migration_run.h"
#include "tests/migration/sample_account_file.h"
#include "tests/support/older_schema.h"
#include "tests/support/scratch.h"

namespace kestrix::migration::test {
namespace {

using kestrix::test::makeScratchDatabase;
using kestrix::test::ScratchDatabase;

class AccountWriting : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
    }

    void exec(const std::string& sql) { ASSERT_TRUE(db_.execute(sql)) << db_.lastError(); }

    long long count(const std::string& sql) {
        auto rows = db_.query(sql);
        EXPECT_TRUE(rows) << db_.lastError();
        return rows && !rows->eof() ? rows->integer(rows->columnNames().front()).value_or(-1) : -1;
    }

    // Refuses the insert of the named user: a failure half-way through.
    void refuseUser(const std::string& name) {
        if (GetParam() == Engine::SQLite) {
            exec("create trigger refuse before insert on users when new.username='" + name +
                 "' begin select raise(abort, 'refused by the test'); end");
        } else {
            exec(
                "create function refuse_row() returns trigger as $$ begin raise exception "
                "'refused by the test'; end $$ language plpgsql");
            exec("create trigger refuse before insert on users for each row when (new.username='" +
                 name + "') execute function refuse_row()");
        }
    }

    std::unique_ptr<ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(AccountWriting, UsersRulesAndConversionsLandInOneGo) {
    const AccountPlan plan = planMigration(AccountFile::parse(domainFormFile()));
    std::vector<std::string> steps;
    const WriteOutcome out = writeAccounts(db_, plan, false, [&](const WriteStep& step) {
        EXPECT_LE(step.done, step.total) << step.name;
        const std::string complete = step.name + " " + std::to_string(step.total);
        if (step.done == step.total && (steps.empty() || steps.back() != complete))
            steps.push_back(complete);
        return true;
    });
    ASSERT_TRUE(out.committed) << out.failure;
    // Every step ends complete; the empty ones too.
    EXPECT_EQ(steps, (std::vector<std::string>{"Checking the names 3", "Writing the users 3",
                                               "Writing the directory rules 2",
                                               "Writing the blocked addresses 3", "Committing 1"}));
    EXPECT_EQ(out.written.size(), 3u);
    EXPECT_EQ(count("select count(*) from users"), 3);

    auto alice = db_.query(
        "select homedir, password, rel_path, hide_hidden_files, always_login, disable_user, "
        "max_concurrent, max_logins_per_ip, timeout, session_timeout, speed_limit_value, "
        "login_msg_file, use_quota, quota_max, quota_current, comments from users where "
        "username='alice'");
    ASSERT_TRUE(alice && !alice->eof());
    EXPECT_EQ(alice->text("homedir"), "/srv/ftp/alice");
    EXPECT_EQ(alice->text("password"), "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46");
    EXPECT_EQ(alice->integer("rel_path"), 1);
    EXPECT_EQ(alice->integer("hide_hidden_files"), 1);
    EXPECT_EQ(alice->integer("always_login"), 0);
    EXPECT_EQ(alice->integer("disable_user"), 1);
    EXPECT_EQ(alice->integer("max_concurrent"), 3);
    EXPECT_EQ(alice->integer("max_logins_per_ip"), 2);
    EXPECT_EQ(alice->integer("timeout"), 10);
    EXPECT_EQ(alice->integer("session_timeout"), 2);
    EXPECT_EQ(alice->text("speed_limit_value"), "20");
    EXPECT_EQ(alice->text("login_msg_file"), "/srv/ftp/welcome.txt");
    EXPECT_EQ(alice->integer("use_quota"), 1);
    EXPECT_EQ(alice->integer("quota_max"), 104857600);
    EXPECT_EQ(alice->integer("quota_current"), 5242880);
    EXPECT_EQ(alice->text("comments"), "first line\r\nsecond line");

    // No limits in the file: the database's own "none" forms.
    auto jose = db_.query(
        "select timeout, max_concurrent, max_logins_per_ip, password, homedir, "
        "login_msg_file from users where username='Jos\xc3\xa9'");
    ASSERT_TRUE(jose && !jose->eof());
    EXPECT_EQ(jose->text("homedir"), "D:\\ftp\\jose");  // backslashes as they were
    EXPECT_EQ(jose->integer("timeout"), -1);
    EXPECT_EQ(jose->integer("max_concurrent"), -1);
    EXPECT_EQ(jose->integer("max_logins_per_ip"), 0);
    EXPECT_TRUE(passwordMatches(jose->text("password"), "xYSVpu6KN/ldI"));
    EXPECT_FALSE(jose->field("login_msg_file").has_value());
    auto anonymous = db_.query("select password from users where username='anonymous'");
    ASSERT_TRUE(anonymous && !anonymous->eof());
    EXPECT_FALSE(anonymous->field("password").has_value());

    // The server's first rule is the plug-in's last.
    auto rules = db_.query(
        "select directory, dir_rights, inherit_subdirs from dir_rights "
        "where username='alice'");
    ASSERT_TRUE(rules);
    std::vector<std::string> seen;
    for (; !rules->eof(); rules->moveNext())
        seen.push_back(rules->text("directory") + "|" + rules->text("dir_rights") + "|" +
                       rules->text("inherit_subdirs"));
    EXPECT_EQ(seen,
              (std::vector<std::string>{"/srv/ftp/alice/pub|RL|1", "/srv/ftp/alice|RWAMLCD|1"}));
    EXPECT_EQ(count("select count(*) from blocked_ips_by_user where username='alice' and "
                    "ip in ('10.0.0.7', '10.1.*.*', '172.16.1-9.0')"),
              3);
    EXPECT_EQ(count("select count(*) from blocked_ips_by_user"), 3);
}

TEST_P(AccountWriting, ExistingNamesAreSkippedNotOverwritten) {
    exec(
        "insert into users (username, homedir, password, max_concurrent, max_logins_per_ip) "
        "values ('ALICE', '/home/old', 'kept', 1, 1)");
    AccountPlan plan = planMigration(AccountFile::parse(domainFormFile()));
    // Notes the column cannot hold: that user is left out, not the run.
    MigratedUser wordy;
    wordy.name = "wordy";
    wordy.homedir = "/srv/ftp/wordy";
    wordy.comments = std::string(257, 'n');
    plan.users.push_back(wordy);
    const WriteOutcome out = writeAccounts(db_, plan, false);
    ASSERT_TRUE(out.committed) << out.failure;
    EXPECT_EQ(out.written, (std::vector<std::string>{"Jos\xc3\xa9", "anonymous"}));
    ASSERT_EQ(out.skipped.size(), 2u);
    EXPECT_EQ(out.skipped[0].first, "alice");
    EXPECT_EQ(out.skipped[1].first, "wordy");
    EXPECT_NE(out.skipped[1].second.find("notes"), std::string::npos);
    EXPECT_EQ(count("select count(*) from users where username='alice'"), 1);
    EXPECT_EQ(count("select count(*) from users where password='kept'"), 1);
    EXPECT_EQ(count("select count(*) from dir_rights"), 0);

    // The same file again: nothing new, and the report says so.
    const WriteOutcome again = writeAccounts(db_, plan, false);
    EXPECT_TRUE(again.written.empty());
    EXPECT_EQ(again.skipped.size(), 4u);
    MigrationResult result;
    result.accountFilePath = "ServUDaemon.ini";
    result.plan = plan;
    result.outcome = again;
    const std::string report = reportText(result);
    EXPECT_FALSE(result.migratedAny());
    EXPECT_NE(report.find("Migrated 0 of 4 users"), std::string::npos) << report;
    // What was not carried over concerns only users that were.
    EXPECT_EQ(report.find("Not carried over"), std::string::npos) << report;
}

TEST_P(AccountWriting, FailureHalfWayLeavesTheDatabaseAsItWas) {
    refuseUser("anonymous");
    const AccountPlan plan = planMigration(AccountFile::parse(domainFormFile()));
    const WriteOutcome out = writeAccounts(db_, plan, true);
    EXPECT_FALSE(out.committed);
    EXPECT_NE(out.failure.find("anonymous"), std::string::npos) << out.failure;
    EXPECT_NE(out.failure.find("refused by the test"), std::string::npos) << out.failure;
    EXPECT_TRUE(out.written.empty());
    for (const char* table : {"users", "dir_rights", "blocked_ips_by_user"})
        EXPECT_EQ(count(std::string("select count(*) from ") + table), 0) << table;
    if (GetParam() == Engine::SQLite) {
        EXPECT_EQ(count("select count(*) from domains"), 0);
    }

    MigrationResult result;
    result.accountFilePath = "ServUDaemon.ini";
    result.plan = plan;
    result.outcome = out;
    const std::string report = reportText(result);
    EXPECT_NE(report.find("Nothing was migrated"), std::string::npos) << report;
    EXPECT_FALSE(result.migratedAny());
}

TEST_P(AccountWriting, DomainsWhereTheDatabaseHasThem) {
    // A second domain whose only user shares a name with the first's.
    const AccountPlan plan = planMigration(AccountFile::parse(
        domainFormFile() +
        "[Domains]\r\nDomain2=0.0.0.0||2121|Second|2|0|0\r\n[Domain2]\r\nUser1=ALICE|1|0\r\n"
        "[USER=ALICE|2]\r\nPassword=x\r\nHomeDir=/srv/ftp/a2\r\n"));
    const WriteOutcome out = writeAccounts(db_, plan, true);
    ASSERT_TRUE(out.committed) << out.failure;
    EXPECT_EQ(out.written.size(), 3u);
    ASSERT_EQ(out.skipped.size(), 1u);
    EXPECT_EQ(out.skipped[0].first, "ALICE");
    MigrationResult result;
    result.accountFilePath = "ServUDaemon.ini";
    result.plan = plan;
    result.outcome = out;
    result.domainsAsked = true;
    const std::string report = reportText(result);
    if (GetParam() == Engine::SQLite) {
        EXPECT_FALSE(out.domainTablesMissing);
        EXPECT_EQ(count("select count(*) from domains where DOMAINID=1 and DOMAINNAME='Main "
                        "site' and PORT='21'"),
                  1);
        EXPECT_EQ(count("select count(*) from domainDetails where DOMAINID=1"), 3);
        EXPECT_EQ(count("select count(*) from domainDetails"), 3);
        EXPECT_EQ(count("select count(*) from users where domainID=1"), 3);
        EXPECT_NE(report.find("Domains migrated: 1"), std::string::npos) << report;
    } else {
        EXPECT_TRUE(out.domainTablesMissing);
        EXPECT_NE(report.find("no domain tables"), std::string::npos) << report;
    }
}

TEST_P(AccountWriting, PlainPasswordsBecomeHashesWhereTheColumnHoldsThem) {
    auto user = [](const std::string& name, const std::string& password) {
        MigratedUser u;
        u.name = name;
        u.homedir = "/srv/ftp/" + name;
        u.password = password;
        return u;
    };
    AccountPlan plan;
    plan.users = {user("plain", "in clear"),
                  user("md5", "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46")};
    WriteOutcome out = writeAccounts(db_, plan, false);
    ASSERT_TRUE(out.committed) << out.failure;
    auto stored = [&](const std::string& name) {
        auto rows = db_.queryBound("select password from users where username=:v1", {name});
        return rows && !rows->eof() ? rows->text("password") : std::string("<none>");
    };
    EXPECT_TRUE(stored("plain").starts_with("{CRYPT}$y$")) << stored("plain");
    EXPECT_TRUE(passwordMatches(stored("plain"), "in clear"));
    EXPECT_EQ(stored("md5"), "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46");

    // A database whose column is still 50 wide keeps plain text, and a
    // password longer than that leaves its user out, not the run.
    for (std::string statement : dialectFor(GetParam()).schemaStatements()) {
        const auto at = statement.find("password VARCHAR(255)");
        if (at == std::string::npos) continue;
        statement.replace(at, 21, "password VARCHAR(50)");
        kestrix::test::dropOwnerKeys(db_);
        exec("drop table users");
        exec(statement);
    }
    plan.users = {user("narrow", "in clear"), user("long", std::string(51, 'l'))};
    out = writeAccounts(db_, plan, false);
    ASSERT_TRUE(out.committed) << out.failure;
    EXPECT_EQ(stored("narrow"), "in clear");
    EXPECT_EQ(out.written, (std::vector<std::string>{"narrow"}));
    ASSERT_EQ(out.skipped.size(), 1u);
    EXPECT_EQ(out.skipped[0].second, "the password is too long for the database");
}

TEST(AccountReport, FileWithoutUsersIsNoSuccess) {
    MigrationResult result;
    result.accountFilePath = "/opt/Serv-U/ServUDaemon.ini";
    result.plan =
        planMigration(AccountFile::parse("[GLOBAL]\r\nVersion=6.4\r\n[DOMAINS]\r\n"
                                         "Domain1=0.0.0.0||21|Main|1|0|0\r\n"));
    EXPECT_FALSE(result.migratedAny());
    EXPECT_NE(reportText(result).find("lists no users"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Engines, AccountWriting,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return kestrix::test::engineName(info.param); });

}  // namespace
}  // namespace kestrix::migration::test

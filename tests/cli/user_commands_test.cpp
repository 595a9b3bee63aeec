// Users, their rules and their settings through the kestrix program.
#include <QJsonArray>
#include <QJsonObject>
#include <cstdlib>
#include <optional>

#include "core/database.h"
#include "core/schema.h"
#include "core/short_date.h"
#include "core/stored_password.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/older_schema.h"

namespace kestrix::cli::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

class UserCommands : public CliTest {
  protected:
    std::string passwordOf(const std::string& name) {
        const auto found =
            rows("SELECT password FROM users WHERE username='" + name + "'", {"password"});
        return found.size() == 1 ? found[0][0] : std::string("<no single row>");
    }
    Rows rulesOf(const std::string& name) {
        return rows(
            "SELECT directory, dir_rights, inherit_subdirs FROM dir_rights WHERE "
            "username='" +
                name + "'",
            {"directory", "dir_rights", "inherit_subdirs"});
    }
    std::vector<std::string> listed() {
        const Ran run = runKestrix({"user", "list", "--json"});
        EXPECT_EQ(run.status, 0) << run.err;
        std::vector<std::string> names;
        for (const QJsonValue& name : jsonOf(run).array())
            names.push_back(name.toString().toStdString());
        return names;
    }
};

TEST_P(UserCommands, AddListShowAndDeleteWithTheWindowsRefusals) {
    const std::string home = dir("ftp/bob");
    addUser("bob", home);
    EXPECT_EQ(rows("SELECT username, homedir, max_concurrent FROM users",
                   {"username", "homedir", "max_concurrent"}),
              (Rows{{"bob", home, "1"}}));
    EXPECT_TRUE(passwordMatches(passwordOf("bob"), "pw-bob"));
    EXPECT_TRUE(passwordOf("bob").starts_with("{CRYPT}$y$"));

    Ran run = runKestrix({"user", "add", "bob", "--password", "x", "--home", home});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "That username is already in use. Please choose another.\n");
    run = runKestrix({"user", "add", "Anonymous", "--password", "x"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Those are forbidden usernames."), std::string::npos) << run.err;
    run = runKestrix({"user", "add", "carl", "--password", "x", "--home", "ftp/carl"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("The Home Directory must be a full path starting with /."),
              std::string::npos)
        << run.err;
    run = runKestrix({"user", "add", "dora"});
    EXPECT_EQ(run.status, 1);
    // Without a home the new user gets the FTP root, as New User gives it.
    addUser("eve", dir("ftp"));
    EXPECT_EQ(listed(), (std::vector<std::string>{"bob", "eve"}));

    run = runKestrix({"user", "show", "bob", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const QJsonObject shown = jsonOf(run).object();
    EXPECT_EQ(shown["home"].toString().toStdString(), home);
    EXPECT_EQ(shown["disabled"].toBool(), false);
    EXPECT_TRUE(shown["rule"].toArray().isEmpty());

    run = runKestrix({"user", "delete", "bob"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Are you sure you want to delete bob?"), std::string::npos);
    EXPECT_NE(run.err.find("--yes"), std::string::npos);
    EXPECT_EQ(listed(), (std::vector<std::string>{"bob", "eve"}));
    EXPECT_EQ(runKestrix({"user", "delete", "bob", "--yes"}).status, 0);
    EXPECT_EQ(listed(), (std::vector<std::string>{"eve"}));
    run = runKestrix({"user", "delete", "bob", "--yes"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "There is no user bob.\n");
    run = runKestrix({"user", "show", "bob"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
}

TEST_P(UserCommands, RulesAreAddedEditedMovedAndRemovedByTheirPlace) {
    const std::string home = dir("ftp/bob");
    const std::string pub = dir("ftp/pub");
    const std::string in = dir("ftp/pub/in");
    addUser("bob", home);
    Ran run = runKestrix({"user", "rule", "add", "bob", home + "/missing"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("The folder \"" + home + "/missing\" does not exist."),
              std::string::npos);
    ASSERT_EQ(runKestrix({"user", "rule", "add", "bob", pub + "/"}).status, 0);
    ASSERT_EQ(
        runKestrix({"user", "rule", "add", "bob", in, "--rights", "rwa", "--no-inherit"}).status,
        0);
    EXPECT_EQ(rulesOf("bob"), (Rows{{pub, "RL", "1"}, {in, "RWA", "0"}}));
    run = runKestrix({"user", "rule", "add", "bob", in, "--rights", "RX"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Rights are letters of RWAMELCD, not RX.\n");

    ASSERT_EQ(
        runKestrix({"user", "rule", "edit", "bob", "1", "--rights", "RLCD", "--no-inherit"}).status,
        0);
    ASSERT_EQ(runKestrix({"user", "rule", "move", "bob", "2", "up"}).status, 0);
    run = runKestrix({"user", "rule", "list", "bob", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const QJsonArray listed = jsonOf(run).array();
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed[0].toObject()["place"].toInt(), 1);
    EXPECT_EQ(listed[0].toObject()["directory"].toString().toStdString(), in);
    EXPECT_EQ(listed[1].toObject()["rights"].toString().toStdString(), "RLCD");
    EXPECT_FALSE(listed[1].toObject()["inherit"].toBool());

    run = runKestrix({"user", "rule", "move", "bob", "1", "up"});
    EXPECT_EQ(run.status, 1);
    run = runKestrix({"user", "rule", "remove", "bob", "3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("There is no rule 3"), std::string::npos);
    ASSERT_EQ(runKestrix({"user", "rule", "remove", "bob", "1"}).status, 0);
    EXPECT_EQ(rulesOf("bob"), (Rows{{pub, "RLCD", "0"}}));
    EXPECT_EQ(runKestrix({"user", "rule", "list", "nobody"}).status, 1);
}

TEST_P(UserCommands, ACopyTakesHomeNotesAndRulesAndNeedsANewPassword) {
    const std::string home = dir("ftp/bob");
    addUser("bob", home);
    ASSERT_EQ(runKestrix({"user", "set", "bob", "--notes", "the first"}).status, 0);
    ASSERT_EQ(runKestrix({"user", "rule", "add", "bob", dir("ftp/pub"), "--rights", "RL"}).status,
              0);
    // No terminal to ask on, nothing on standard input.
    Ran run = runKestrix({"user", "copy", "bob", "ann", "--yes"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "No terminal to ask for the password: give --password-stdin.\n");
    run = runKestrix({"user", "copy", "bob", "ann", "--password-stdin", "--yes"}, " \n");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("The Password field must contain at least an alphanumeric character"),
              std::string::npos)
        << run.err;
    run = runKestrix({"user", "copy", "bob", "ann", "--password", "new"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Do you want to continue"), std::string::npos);
    run = runKestrix({"user", "copy", "bob", "eve", "--password", "new", "--yes"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        rows("SELECT homedir, comments FROM users WHERE username='eve'", {"homedir", "comments"}),
        (Rows{{home, "the first"}}));
    EXPECT_TRUE(passwordMatches(passwordOf("eve"), "new"));
    EXPECT_NE(passwordOf("eve"), "new");
    EXPECT_EQ(rulesOf("eve"), rulesOf("bob"));
    run = runKestrix({"user", "copy", "bob", "EVE", "--password", "new", "--yes"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.starts_with("That username is already in use. Please choose another."))
        << run.err;
    EXPECT_NE(run.err.find("The database holds it as eve."), std::string::npos) << run.err;
    // The source's own name in other letters: refused, the source untouched.
    run = runKestrix({"user", "copy", "bob", "Bob", "--password", "new", "--yes"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("The database holds it as bob."), std::string::npos) << run.err;
    EXPECT_EQ(rows("SELECT username FROM users ORDER BY username", {"username"}),
              (Rows{{"bob"}, {"eve"}}));
}

TEST_P(UserCommands, SetWritesEachDialogsFieldsAndRefusesBeforeWritingAnything) {
    addUser("bob", dir("ftp/bob"));
    Ran run = runKestrix({"user",
                          "set",
                          "bob",
                          "--expires",
                          "2031-02-03",
                          "--disable-on",
                          "2030-12-24",
                          "--max-users",
                          "4",
                          "--idle-timeout",
                          "10",
                          "--hide-hidden",
                          "on",
                          "--ratio",
                          "files-overall",
                          "--ratio-upload",
                          "1",
                          "--ratio-download",
                          "3",
                          "--ratio-credit",
                          "7",
                          "--quota",
                          "on",
                          "--quota-max",
                          "2",
                          "--quota-unit",
                          "kb"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Stored as YYYY-MM-DD, which every program reads alike in any locale.
    const std::string expires = "2031-02-03";
    EXPECT_EQ(rows("SELECT Expires, max_concurrent, timeout, hide_hidden_files, ratio_type, "
                   "ratio_down, ratio_current_credit, use_quota, quota_max FROM users",
                   {"Expires", "max_concurrent", "timeout", "hide_hidden_files", "ratio_type",
                    "ratio_down", "ratio_current_credit", "use_quota", "quota_max"}),
              (Rows{{expires, "4", "10", "1", "FilesOverall", "3", "7", "1", "2048"}}));

    // A bad date, a disable date after the expiry, a word for a number: each
    // refused with the dialog's text, and nothing of the command written.
    run = runKestrix({"user", "set", "bob", "--notes", "changed", "--expires", "31.31.2031"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "The Expiration date field does not hold a date: \"31.31.2031\".\nPlease type it "
              "as 12/24/2026 or 2026-12-24, or choose it.\n");
    run = runKestrix({"user", "set", "bob", "--disable-on", "2032-01-01"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "The account expiration date should be after the date it is to be "
              "disabled.\n");
    run = runKestrix({"user", "set", "bob", "--notes", "changed", "--max-users", "four"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "The value in the maximum users field must be a number.\n");
    EXPECT_EQ(rows("SELECT comments, Expires, max_concurrent FROM users",
                   {"comments", "Expires", "max_concurrent"}),
              (Rows{{"<null>", expires, "4"}}));

    run = runKestrix({"user", "set", "bob", "--expires", "never", "--disabled", "on"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = runKestrix({"user", "show", "bob", "--json"});
    EXPECT_EQ(jsonOf(run).object()["expires"].toString().toStdString(), "");
    EXPECT_TRUE(jsonOf(run).object()["disabled"].toBool());
    EXPECT_EQ(jsonOf(run).object()["disable_on"].toString().toStdString(), "");

    EXPECT_EQ(runKestrix({"user", "set", "bob", "--colour", "red"}).status, 2);
    EXPECT_EQ(runKestrix({"user", "set", "bob", "--hide-hidden", "maybe"}).status, 2);
    EXPECT_EQ(runKestrix({"user", "set", "bob"}).status, 1);
    run = runKestrix({"user", "set", "nobody", "--notes", "x"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "There is no user nobody.\n");
}

TEST_P(UserCommands, QuotasPastTwoGibibytesAreWholeBytesAndTooLargeOnesAreRefused) {
    addUser("bob", dir("ftp/bob"));
    Ran run = runKestrix({"user", "set", "bob", "--quota", "on", "--quota-max", "5120"});
    ASSERT_EQ(run.status, 0) << run.err;
    auto stored = [&] {
        Rows quota =
            rows("SELECT quota_max, quota_current FROM users", {"quota_max", "quota_current"});
        // PostgreSQL's numeric keeps the scale it was written with.
        for (auto& row : quota)
            for (auto& column : row)
                if (column.find('.') != std::string::npos) column.erase(column.find('.'));
        return quota;
    };
    EXPECT_EQ(stored(), (Rows{{"5368709120", "5368709120"}}));
    run = runKestrix({"user", "show", "bob", "--json"});
    EXPECT_EQ(jsonOf(run).object()["quota_max_mb"].toDouble(), 5120);
    EXPECT_EQ(jsonOf(run).object()["quota_current_mb"].toDouble(), 5120);

    // 2^53 bytes and one kilobyte more.
    run = runKestrix({"user", "set", "bob", "--quota-max", "8796093022209", "--quota-unit", "kb"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.err,
        "The value in the Maximum Quota field must be a number from 0 to 8796093022208 Kb.\n");
    EXPECT_EQ(stored(), (Rows{{"5368709120", "5368709120"}}));
    run = runKestrix({"user", "set", "bob", "--quota-max", "0.3", "--quota-unit", "kb"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Nothing counted yet: the remaining quota stays the whole maximum.
    EXPECT_EQ(stored(), (Rows{{"307", "307"}}));
}

TEST_P(UserCommands, ExpiredUsersGoWhenTheDatesAreApplied) {
    addUser("old", dir("ftp/old"));
    addUser("young", dir("ftp/young"));
    const auto yesterday = std::chrono::sys_days(today()) - std::chrono::days(1);
    sql("UPDATE users SET Expires='" + formatShortDate(std::chrono::year_month_day(yesterday)) +
        "' WHERE username='old'");
    ASSERT_EQ(runKestrix({"user", "set", "young", "--disable-on", "2001-01-01", "--yes"}).status,
              0);
    const Ran run = runKestrix({"apply-dates"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(rows("SELECT username, disable_user FROM users", {"username", "disable_user"}),
              (Rows{{"young", "1"}}));
}

// A date is taken as a person means it: a slipped year is refused with its
// field named, a date that has come asks first (the next run acts on it),
// and a disable date given to a disabled account is stored and told.
TEST_P(UserCommands, DatesAreCheckedAsMeantBeforeTheyAreStored) {
    addUser("typo1", dir("ftp/typo1"));
    Ran run = runKestrix({"user", "set", "typo1", "--expires", "03/04/227"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "The year in the Expiration date field (227) must have four digits.\nPlease type "
              "the date again.\n");
    const auto yesterday =
        std::chrono::year_month_day(std::chrono::sys_days(today()) - std::chrono::days(1));
    run = runKestrix({"user", "set", "typo1", "--expires", formatIsoDate(yesterday)});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("the account will be deleted at the next daily run"), std::string::npos)
        << run.err;
    EXPECT_EQ(rows("SELECT Expires FROM users", {"Expires"}), (Rows{{"<null>"}}));
    run = runKestrix({"user", "set", "typo1", "--expires", formatIsoDate(yesterday), "--yes"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(rows("SELECT Expires FROM users", {"Expires"}), (Rows{{formatIsoDate(yesterday)}}));

    ASSERT_EQ(runKestrix({"user", "set", "typo1", "--expires", "never", "--disabled", "on"}).status,
              0);
    run = runKestrix({"user", "set", "typo1", "--disable-on", "2031-01-02"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "User typo1 is disabled now; its disable date 01/02/2031 is stored as well.\n");
    EXPECT_EQ(rows("SELECT DisableOn, disable_user FROM users", {"DisableOn", "disable_user"}),
              (Rows{{"2031-01-02", "1"}}));
}

// The daily timer runs kestrix with the machine's locale: it reads the dates
// the window stored in that locale's short form, a two-digit year with the
// POSIX pivot, and writes YYYY-MM-DD whatever the locale.
TEST_P(UserCommands, DatesAreReadInTheLocaleOfTheEnvironment) {
    using namespace std::chrono;
    const year_month_day now = today();
    // The 13th of last month: read month-first it is no date at all.
    const year_month_day thirteenth{sys_days{year_month_day{now.year(), now.month(), day{1}}} -
                                    days{1}};
    const year_month_day past{thirteenth.year(), thirteenth.month(), day{13}};
    const year_month_day nextYear{now.year() + years{1}, January, day{15}};
    const char* saved = std::getenv("LC_ALL");
    const std::optional<std::string> before =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    struct Case {
        const char* locale;
        const char* pattern;  // the locale's own short form
    };
    for (const Case& c : {Case{"en_GB.UTF-8", "%d/%m/%Y"}, Case{"de_DE.UTF-8", "%d.%m.%Y"},
                          Case{"C", "%m/%d/%y"}}) {
        SCOPED_TRACE(c.locale);
        sql("DELETE FROM users");
        addUser("past", dir("ftp/past"));
        addUser("later", dir("ftp/later"));
        addUser("set", dir("ftp/set"));
        sql("UPDATE users SET Expires='" + formatShortDate(past, c.pattern) +
            "' WHERE username='past'");
        sql("UPDATE users SET Expires='" + formatShortDate(nextYear, c.pattern) +
            "' WHERE username='later'");
        ::setenv("LC_ALL", c.locale, 1);
        const Ran set =
            runKestrix({"user", "set", "set", "--expires", formatShortDate(nextYear, c.pattern)});
        const Ran run = runKestrix({"apply-dates"});
        ::unsetenv("LC_ALL");
        ASSERT_EQ(set.status, 0) << set.err;
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(
            rows("SELECT username, Expires FROM users ORDER BY username", {"username", "Expires"}),
            (Rows{{"later", formatShortDate(nextYear, c.pattern)},
                  {"set", formatIsoDate(nextYear)}}));
    }
    if (before) ::setenv("LC_ALL", before->c_str(), 1);
}

KESTRIX_CLI_ON_BOTH_ENGINES(UserCommands);

}  // namespace
}  // namespace kestrix::cli::test

namespace kestrix::cli::test {
namespace {

class PasswordCommands : public CliTest {
  protected:
    std::string passwordOf(const std::string& name) {
        const auto found =
            rows("SELECT password FROM users WHERE username='" + name + "'", {"password"});
        return found.size() == 1 ? found[0][0] : std::string("<no single row>");
    }
};

TEST_P(PasswordCommands, PasswordsComeFromStandardInputOrTheTerminalAndAreStoredHashed) {
    const std::string home = dir("ftp/bob");
    Ran run = runKestrix({"user", "add", "bob", "--password-stdin", "--home", home},
                         "from stdin\nnot this\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(passwordOf("bob").starts_with("{CRYPT}$y$"));
    EXPECT_TRUE(passwordMatches(passwordOf("bob"), "from stdin"));
    run = runKestrix({"user", "add", "ann", "--password-stdin", "--password", "x"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("Give --password or --password-stdin, not both.\nUsage: "))
        << run.err;

    // Asked twice without echo; the typed password is never shown.
    run = runKestrixOnTerminal({"user", "passwd", "bob"}, {{"Password: ", "typed s3cret"},
                                                           {"Password again: ", "typed s3cret"}});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("s3cret"), std::string::npos) << run.out;
    EXPECT_TRUE(passwordMatches(passwordOf("bob"), "typed s3cret"));

    // Two different answers change nothing.
    const std::string before = passwordOf("bob");
    run = runKestrixOnTerminal({"user", "passwd", "bob"},
                               {{"Password: ", "one"}, {"Password again: ", "two"}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("The two passwords differ: nothing was changed."), std::string::npos)
        << run.out;
    EXPECT_EQ(passwordOf("bob"), before);

    run = runKestrixOnTerminal({"user", "copy", "bob", "carl", "--yes"},
                               {{"Password: ", "carls"}, {"Password again: ", "carls"}});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(passwordMatches(passwordOf("carl"), "carls"));
    run = runKestrix({"user", "passwd", "nobody", "--password-stdin"}, "x\n");
    EXPECT_EQ(run.status, 1);
}

TEST_P(PasswordCommands, ANarrowColumnStoresPlainTextSaysSoAndDbUpgradeEndsIt) {
    // The users table as older databases have it.
    for (std::string statement : dialectFor(GetParam()).schemaStatements()) {
        const auto at = statement.find("password VARCHAR(255)");
        if (at == std::string::npos) continue;
        statement.replace(at, 21, "password VARCHAR(50)");
        Database keyed;
        ASSERT_TRUE(keyed.open(scratch_->connectionString())) << keyed.lastError();
        kestrix::test::dropOwnerKeys(keyed);
        sql("drop table users");
        sql(statement);
    }
    const std::string notice =
        "Passwords are stored in clear text in this database: run kestrix db upgrade "
        "--hash-passwords\n";
    Ran run = runKestrix({"user", "add", "bob", "--password", "plain one", "--home", dir("b")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, notice);
    EXPECT_EQ(passwordOf("bob"), "plain one");
    run = runKestrix({"user", "add", "ann", "--password", "plain two", "--home", dir("a")});
    EXPECT_EQ(run.err, notice);

    run = runKestrix({"db", "upgrade", "--hash-passwords"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "users.password widened from 50 to 255 characters.\n"
              "Passwords hashed: 2\n"
              "Already hashed: 0\n"
              "Older hashes, replaced at their next login: 0\n"
              "Empty, nothing to hash: 0\n"
              "Foreign keys added: a user's rows now go with the user.\n");
    EXPECT_TRUE(passwordMatches(passwordOf("bob"), "plain one"));
    EXPECT_TRUE(passwordMatches(passwordOf("ann"), "plain two"));
    EXPECT_NE(passwordOf("ann"), "plain two");

    run = runKestrix({"user", "add", "cy", "--password", "third", "--home", dir("c")});
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(passwordOf("cy").starts_with("{CRYPT}$y$"));
    run = runKestrix({"db", "upgrade"});
    EXPECT_EQ(run.out, "users.password already holds 255 characters.\nForeign keys present.\n");
}

// An older server database gets the table where every host registers its
// sessions, once; SQLite needs none.
TEST_P(PasswordCommands, DbUpgradeAddsTheSessionsTableToAnOlderServerDatabase) {
    const bool server = GetParam() == Engine::PostgreSQL;
    if (server) sql("drop table sessions");
    const std::string added = "Sessions table added: every host's sessions are counted together.\n";
    Ran run = runKestrix({"db", "upgrade"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find(added) != std::string::npos, server) << run.out;
    if (server) {
        EXPECT_EQ(rows("select count(*) as n from sessions", {"n"}),
                  (std::vector<std::vector<std::string>>{{"0"}}));
    }
    run = runKestrix({"db", "upgrade"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find(added), std::string::npos) << run.out;
}

KESTRIX_CLI_ON_BOTH_ENGINES(PasswordCommands);

}  // namespace
}  // namespace kestrix::cli::test

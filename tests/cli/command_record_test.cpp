// The audit line each changing kestrix command leaves, read back from a
// syslog socket the test owns.
#include <unistd.h>

#include "core/audit_trail.h"
#include "core/settings.h"
#include "core/short_date.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/syslog_socket.h"

namespace kestrix::cli::test {
namespace {

using kestrix::test::auditField;
using Rows = std::vector<std::vector<std::string>>;

class CommandRecord : public CliTest {
  protected:
    // The one line a command left, checked to name this Unix user.
    std::string onlyLine() {
        const auto lines = socket_.take();
        EXPECT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
        if (lines.size() != 1) return {};
        EXPECT_EQ(auditField(lines[0], "by"), audit::currentActor().user);
        return lines[0];
    }
    // What the command said on standard error, as the trail gives it.
    static std::string asReason(const std::string& err) {
        std::string out;
        for (char c : err) {
            if (c != '\n')
                out += c;
            else if (!out.empty() && out.back() != ' ')
                out += ' ';
        }
        return out.substr(0, out.find_last_not_of(' ') + 1);
    }

    kestrix::test::SyslogSocket socket_;
};

TEST_P(CommandRecord, ChangesAreRecordedWithTheirOutcomeAndPasswordsNever) {
    const std::string home = dir("ftp/bob");
    Ran run = runKestrix({"user", "add", "bob", "--home", home, "--password-stdin"},
                         std::string("Sesame-77\n"));
    ASSERT_EQ(run.status, 0) << run.err;
    std::string line = onlyLine();
    EXPECT_EQ(auditField(line, "origin"), "kestrix user add");
    EXPECT_EQ(auditField(line, "ftp_user"), "bob");
    EXPECT_EQ(auditField(line, "change"), "--home " + home + "; password changed") << line;
    EXPECT_EQ(auditField(line, "outcome"), "done");
    EXPECT_EQ(line.find("Sesame"), std::string::npos) << line;

    // Reading changes nothing and leaves no line.
    ASSERT_EQ(runKestrix({"user", "show", "bob"}).status, 0);
    ASSERT_EQ(runKestrix({"user", "rule", "list", "bob"}).status, 0);
    EXPECT_TRUE(socket_.take().empty());

    run = runKestrix({"user", "passwd", "bob", "--password", "Zeta-9 secret"});
    ASSERT_EQ(run.status, 0) << run.err;
    line = onlyLine();
    EXPECT_EQ(auditField(line, "origin"), "kestrix user passwd");
    EXPECT_EQ(auditField(line, "change"), "password changed");
    EXPECT_EQ(line.find("Zeta"), std::string::npos) << line;

    // A refusal: its reason is what the command said; the password given
    // alongside stays out of the line as well.
    run = runKestrix({"user", "set", "bob", "--home", "relative/dir", "--password", "Leak-3"});
    ASSERT_EQ(run.status, 1) << run.err;
    line = onlyLine();
    EXPECT_EQ(auditField(line, "change"), "--home relative/dir; password changed");
    EXPECT_EQ(auditField(line, "outcome"), "refused: " + asReason(run.err));
    EXPECT_EQ(line.find("Leak-3"), std::string::npos) << line;
    EXPECT_EQ(rows("SELECT homedir FROM users", {"homedir"}), (Rows{{home}}));

    // A value that would break the line is escaped: one change, one line.
    run = runKestrix({"user", "set", "bob", "--notes", "two\nlines \"quoted\""});
    ASSERT_EQ(run.status, 0) << run.err;
    line = onlyLine();
    EXPECT_NE(line.find(R"(change="--notes 'two\nlines \"quoted\"'")"), std::string::npos) << line;
}

TEST_P(CommandRecord, TheDatabasePasswordAndAnUnusableDatabaseAreRecordedAsSuch) {
    Ran run = runKestrix({"config", "set", "--servu-path", dir("none") + "/missing",
                          "--connection-string",
                          "Provider=SQLite;Data Source=/tmp/x.db;Password=Hunter-22"});
    ASSERT_EQ(run.status, 1) << run.err;
    std::string line = onlyLine();
    EXPECT_EQ(auditField(line, "origin"), "kestrix config set");
    EXPECT_NE(auditField(line, "change").find("Password=***"), std::string::npos) << line;
    EXPECT_EQ(line.find("Hunter-22"), std::string::npos) << line;
    EXPECT_EQ(auditField(line, "outcome"), "refused: " + asReason(run.err));

    ASSERT_TRUE(writeConnectionString("Provider=SQLite;Data Source=" + dir("gone") +
                                      "/no/such/dir/users.db"));
    run = runKestrix({"user", "add", "carol", "--password", "pw", "--home", dir("ftp/carol")});
    ASSERT_EQ(run.status, 1);
    line = onlyLine();
    EXPECT_EQ(auditField(line, "ftp_user"), "carol");
    EXPECT_EQ(auditField(line, "outcome"), "failed: " + asReason(run.err));
}

TEST_P(CommandRecord, ApplyDatesRecordsEachAccountAndASummary) {
    addUser("old", dir("ftp/old"));
    addUser("young", dir("ftp/young"));
    addUser("kept", dir("ftp/kept"));
    const std::string yesterday = formatShortDate(
        std::chrono::year_month_day(std::chrono::sys_days(today()) - std::chrono::days(1)));
    sql("UPDATE users SET Expires='" + yesterday + "' WHERE username='old'");
    sql("UPDATE users SET DisableOn='" + yesterday + "' WHERE username='young'");
    socket_.take();

    const Ran run = runKestrix({"apply-dates"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = socket_.take();
    ASSERT_EQ(lines.size(), 3u) << ::testing::PrintToString(lines);
    for (const std::string& line : lines) {
        EXPECT_EQ(auditField(line, "origin"), "apply-dates") << line;
        EXPECT_EQ(auditField(line, "outcome"), "done") << line;
    }
    EXPECT_EQ(auditField(lines[0], "ftp_user"), "old");
    EXPECT_EQ(auditField(lines[0], "change"), "deleted: expired on " + yesterday);
    EXPECT_EQ(auditField(lines[1], "ftp_user"), "young");
    EXPECT_EQ(auditField(lines[1], "change"), "disabled: disable date " + yesterday);
    EXPECT_EQ(auditField(lines[2], "ftp_user"), "");
    EXPECT_EQ(auditField(lines[2], "change"),
              "2 accounts due: 1 deleted, 1 disabled, 0 changed meanwhile and left alone");
    EXPECT_EQ(rows("SELECT username FROM users ORDER BY username", {"username"}),
              (Rows{{"kept"}, {"young"}}));
}

KESTRIX_CLI_ON_BOTH_ENGINES(CommandRecord);

}  // namespace
}  // namespace kestrix::cli::test

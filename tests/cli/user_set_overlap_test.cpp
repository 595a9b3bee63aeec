// Another administrator's write of the same user lands between user set's
// read and its write: the other write holds the user's lock and commits once
// the command waits for it, which PostgreSQL shows.
#include <future>

#include "core/database.h"
#include "core/owner_keys.h"
#include "core/stored_password.h"
#include "core/write_lock.h"
#include "tests/cli/cli_fixture.h"

namespace kestrix::cli::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

class UserSetOverlap : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        addUser("bob", dir("ftp/bob"));
        sql("UPDATE users SET comments='first', max_concurrent=1 WHERE username='bob'");
    }

    // Runs the command while `theirs` is written to bob under bob's lock,
    // and commits that write once the command waits for the lock.
    Ran whileHeld(const std::string& theirs, const std::function<Ran()>& command) {
        Database other;
        Database watch;
        EXPECT_TRUE(other.open(scratch_->connectionString()) &&
                    watch.open(scratch_->connectionString()));
        EXPECT_TRUE(beginLocked(other, WriteLock::user("bob"))) << lockFailure(other);
        EXPECT_TRUE(other.execute(theirs)) << other.lastError();
        auto ran = std::async(std::launch::async, command);
        for (;;) {
            bool waiting = false;
            EXPECT_TRUE(watch.readColumn(
                "SELECT pid FROM pg_stat_activity WHERE wait_event_type='Lock' AND "
                "datname=current_database()",
                {}, [&](Database::ValueView) { waiting = true; }));
            if (waiting) break;
            if (ran.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready) {
                ADD_FAILURE() << "the command did not wait for the other write";
                break;
            }
        }
        EXPECT_TRUE(other.commit()) << other.lastError();
        return ran.get();
    }
    Rows bob() {
        return rows("SELECT comments, max_concurrent FROM users WHERE username='bob'",
                    {"comments", "max_concurrent"});
    }
};

TEST_P(UserSetOverlap, AFieldOnlyTheOtherChangedIsKeptWithoutAQuestion) {
    // The password comes from standard input once, however often the
    // command reads the user again.
    const Ran ran = whileHeld("UPDATE users SET max_concurrent=7 WHERE username='bob'", [] {
        return runKestrix({"user", "set", "bob", "--notes", "mine", "--password-stdin"},
                          std::string("New-pw1\n"));
    });
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(bob(), (Rows{{"mine", "7"}}));
    const Rows password = rows("SELECT password FROM users", {"password"});
    EXPECT_TRUE(passwordMatches(password.at(0).at(0), "New-pw1")) << password.at(0).at(0);
}

TEST_P(UserSetOverlap, AFieldBothChangedIsListedAndWrittenOnlyWhenTheAnswerIsYes) {
    const std::string theirs = "UPDATE users SET comments='theirs' WHERE username='bob'";
    const std::string listed =
        "You and someone else both changed these settings of user bob since this command read "
        "it:\n  comments: yours mine, theirs theirs\n";
    // Without a terminal and without --yes: nothing written, and said so.
    Ran ran = whileHeld(theirs, [] {
        return runKestrix({"user", "set", "bob", "--notes", "mine"});
    });
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, listed +
                           "Nothing was written. Repeat the command to apply it to what is stored "
                           "now, or give --yes to store yours over theirs.\n");
    EXPECT_EQ(bob(), (Rows{{"theirs", "1"}}));

    // On a terminal, asked: no keeps theirs.
    sql("UPDATE users SET comments='first' WHERE username='bob'");
    ran = whileHeld(theirs, [] {
        return runKestrixOnTerminal({"user", "set", "bob", "--notes", "mine"},
                                    {{"Store yours over theirs? [y/N] ", "n"}});
    });
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.out.find("comments: yours mine, theirs theirs"), std::string::npos) << ran.out;
    EXPECT_EQ(bob(), (Rows{{"theirs", "1"}}));

    // --yes stores this command's value.
    sql("UPDATE users SET comments='first' WHERE username='bob'");
    ran = whileHeld(theirs, [] {
        return runKestrix({"user", "set", "bob", "--notes", "mine", "--yes"});
    });
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.err, listed + "Storing yours (--yes).\n");
    EXPECT_EQ(bob(), (Rows{{"mine", "1"}}));
}

// Only PostgreSQL shows that the command waits; on SQLite the other write
// could commit before the command has read at all.
INSTANTIATE_TEST_SUITE_P(Engines, UserSetOverlap, ::testing::Values(Engine::PostgreSQL),
                         engineParamName);

}  // namespace
}  // namespace kestrix::cli::test

// A user's lock: held on the user's row, never on nothing, and the version
// that tells a writer whether anything changed since it loaded.
#include <gtest/gtest.h>

#include <future>

#include "core/database.h"
#include "core/owner_keys.h"
#include "core/write_lock.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

class WriteLockTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
        ASSERT_TRUE(
            db_.execute("INSERT INTO users (username, homedir, max_concurrent, "
                        "max_logins_per_ip) VALUES ('bob', '/srv', 1, 1)"))
            << db_.lastError();
    }
    // Whether another connection has a statement waiting for a lock.
    bool someoneWaits() {
        if (GetParam() == Engine::SQLite) return true;  // its wait is not visible
        bool waiting = false;
        EXPECT_TRUE(db_.readColumn("SELECT pid FROM pg_stat_activity WHERE wait_event_type='Lock'",
                                   {}, [&](Database::ValueView) { waiting = true; }));
        return waiting;
    }

    std::unique_ptr<test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(WriteLockTest, AUserLockWaitsForTheHolderAndRefusesAUserDeletedMeanwhile) {
    Database holder;
    ASSERT_TRUE(holder.open(scratch_->connectionString()));
    ASSERT_TRUE(beginLocked(holder, WriteLock::user("BOB"))) << lockFailure(holder);
    auto second = std::async(std::launch::async, [&] {
        Database other;
        if (!other.open(scratch_->connectionString())) return std::string("no connection");
        if (!beginLocked(other, WriteLock::user("bob"))) return lockFailure(other);
        other.rollback();
        return std::string("held");
    });
    // The second writer waits on the row until the holder's delete is done.
    while (!someoneWaits())
        ASSERT_EQ(second.wait_for(std::chrono::milliseconds(10)), std::future_status::timeout)
            << second.get();
    ASSERT_TRUE(holder.execute("DELETE FROM users WHERE username='bob'"));
    ASSERT_TRUE(holder.commit());
    EXPECT_EQ(second.get(), "User bob no longer exists");

    // A lock on a user that is not stored holds nothing and says so.
    EXPECT_FALSE(beginLocked(db_, WriteLock::user("nobody")));
    EXPECT_EQ(lockFailure(db_), "User nobody no longer exists");
    EXPECT_TRUE(db_.execute("SELECT 1"));  // nothing left open
}

// A writer of names (a rename, a new user) holds the table: a writer of one
// user waits for it before it takes the user's row, so the two never hold
// one lock each while waiting for the other's, and a user renamed
// meanwhile is found gone.
TEST_P(WriteLockTest, AUserLockWaitsForAWriterOfNames) {
    Database renamer;
    ASSERT_TRUE(renamer.open(scratch_->connectionString()));
    ASSERT_TRUE(beginLocked(renamer, WriteLock::table("users"))) << lockFailure(renamer);
    auto second = std::async(std::launch::async, [&] {
        Database other;
        if (!other.open(scratch_->connectionString())) return std::string("no connection");
        if (!beginLocked(other, WriteLock::user("bob"))) return lockFailure(other);
        other.rollback();
        return std::string("held");
    });
    while (!someoneWaits())
        ASSERT_EQ(second.wait_for(std::chrono::milliseconds(10)), std::future_status::timeout)
            << second.get();
    ASSERT_TRUE(renamer.execute("UPDATE users SET username='carol' WHERE username='bob'"))
        << renamer.lastError();
    ASSERT_TRUE(renamer.commit()) << renamer.lastError();
    EXPECT_EQ(second.get(), "User bob no longer exists");
}

TEST_P(WriteLockTest, TheVersionTellsNoValueFromAnEmptyOne) {
    const UserParts parts{{"comments", "login_msg_file"}, true, true};
    const auto none = readUserVersion(db_, "bob", parts);
    ASSERT_TRUE(none) << db_.lastError();
    ASSERT_TRUE(db_.execute("UPDATE users SET comments='' WHERE username='bob'"));
    const auto empty = readUserVersion(db_, "bob", parts);
    ASSERT_TRUE(empty);
    EXPECT_NE(*none, *empty);
    // Read back as fields, the two stay apart too.
    EXPECT_EQ(versionFields(*none, parts).at("comments"), std::nullopt);
    EXPECT_EQ(versionFields(*empty, parts).at("comments"), std::string());
    // A writer that loaded the NULL finds the change and writes nothing.
    EXPECT_EQ(holdGuard(db_, WriteGuard{WriteLock::user("bob"), "bob", parts, none}),
              GuardResult::Changed);
    EXPECT_EQ(holdGuard(db_, WriteGuard{WriteLock::user("bob"), "bob", parts, empty}),
              GuardResult::Held);
    EXPECT_TRUE(db_.rollback());
}

INSTANTIATE_TEST_SUITE_P(Engines, WriteLockTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix

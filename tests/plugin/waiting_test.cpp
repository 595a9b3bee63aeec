// Events on PostgreSQL that the database keeps waiting, and statements
// that fail there.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <thread>

#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

using namespace std::chrono_literals;

Clock realClock() {
    return [] { return std::chrono::steady_clock::now(); };
}

class PostgresWaiting : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_ = kestrix::test::makeScratchDatabase(Engine::PostgreSQL);
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
        insertUser(db_, "bob", "/srv/ftp/bob", "secret");
    }
    int handle(EventDispatcher& dispatcher, ClientEvent& event) {
        return dispatcher.handle(&event);
    }

    std::unique_ptr<kestrix::test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_F(PostgresWaiting, AnEventWaitingOnALockHoldsUpNoOtherAndEndsWithTheNoValueAnswer) {
    EventDispatcher dispatcher([&] { return scratch_->connectionString(); }, realClock());
    Database locker;
    ASSERT_TRUE(locker.open(scratch_->connectionString())) << locker.lastError();
    ASSERT_TRUE(locker.begin());
    exec(locker, "lock table users in access exclusive mode");

    std::atomic<bool> loginDone{false};
    int32_t loginFlag = -1;
    std::thread login([&] {
        ClientEvent event = makeEvent(code::kPasswordCheck, "bob", "secret");
        EXPECT_EQ(handle(dispatcher, event), 1);
        loginFlag = event.flag;
        loginDone = true;
    });
    // Wait until the login's read waits for the lock (the minute only ends a
    // hung test).
    bool waiting = false;
    for (int i = 0; i < 6000 && !waiting; ++i) {
        auto rs = db_.query(
            "select count(*) as n from pg_stat_activity where wait_event_type='Lock' and "
            "datname=current_database()");
        waiting = rs && !rs->eof() && rs->integer("n") == 1;
        if (!waiting) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(waiting);
    // Another thread's event goes by on a connection of its own.
    ClientEvent address = makeEvent(code::kAddressAllowed, "", "10.0.0.1");
    EXPECT_EQ(handle(dispatcher, address), 1);
    EXPECT_EQ(address.flag, 1);
    EXPECT_FALSE(loginDone.load());
    // The statement's time limit ends the wait: the login is refused.
    login.join();
    EXPECT_EQ(loginFlag, 0);
    ASSERT_TRUE(locker.rollback());
    ClientEvent again = makeEvent(code::kPasswordCheck, "bob", "secret");
    EXPECT_EQ(handle(dispatcher, again), 1);
    EXPECT_EQ(again.flag, 1);
}

// SOCI's PostgreSQL backend keeps a failed run's parameter buffer; the
// store drops such a statement so that nothing accumulates.
TEST_F(PostgresWaiting, FailedStatementsLeaveNoMemoryBehind) {
    EventDispatcher dispatcher([&] { return scratch_->connectionString(); }, realClock());
    const std::string user(30, 'u');
    auto rules = [&] {
        ClientEvent event = makeEvent(code::kListDirectory, user, "/");
        EXPECT_EQ(handle(dispatcher, event), 1);
        return event.flag;
    };
    insertUser(db_, user, "/", "p");
    EXPECT_EQ(rules(), 1);
    exec(db_, "alter table dir_rights rename to dir_rights_gone");
    // The rules cannot be read: the home directory's answer stands.
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(rules(), 1);
    const std::size_t before = ::mallinfo2().uordblks;
    for (int i = 0; i < 3000; ++i)
        (void)rules();
    const std::size_t after = ::mallinfo2().uordblks;
    // 3000 leaked buffers of a 30-byte name would be some 150 kB.
    EXPECT_LT(after, before + 48 * 1024);
    exec(db_, "alter table dir_rights_gone rename to dir_rights");
    EXPECT_EQ(rules(), 1);
}

}  // namespace
}  // namespace kestrix::plugin::test

// Events that the database keeps waiting (a lock on PostgreSQL, a SQLite
// file locked by another process), and statements that fail there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "plugin/store_pool.h"
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

// A round trip cut off at the event's deadline while the server is healthy
// (a lock held a while): the next event connects again at once rather than
// refusing for the retry interval.
TEST_F(PostgresWaiting, AConnectionThatMissedItsDeadlineIsReplacedAtOnce) {
    ManualClock clock;  // never moves: no retry interval ever passes
    EventDispatcher dispatcher([&] { return scratch_->connectionString(); }, clock.function());
    auto send = [&](int32_t code, const std::string& data) {
        ClientEvent event = makeEvent(code, "bob", data);
        EXPECT_EQ(handle(dispatcher, event), 1);
        return event.flag;
    };
    auto backendOf = [&]() -> std::optional<long long> {
        auto rs = db_.query(
            "select pid from pg_stat_activity where datname=current_database() and "
            "pid<>pg_backend_pid() and backend_type='client backend'");
        if (!rs || rs->eof()) return std::nullopt;
        return rs->integer("pid");
    };
    ASSERT_EQ(send(code::kPasswordCheck, "secret"), 1);
    const auto first = backendOf();
    ASSERT_TRUE(first);

    Database locker;
    ASSERT_TRUE(locker.open(scratch_->connectionString())) << locker.lastError();
    ASSERT_TRUE(locker.begin());
    exec(locker, "lock table users in access exclusive mode");
    // The password check's read of the whole row waits out the statement's
    // own time limit, then its read of the password alone, which the rest of
    // the event's time cuts off.
    EXPECT_EQ(send(code::kPasswordCheck, "secret"), 0);
    ASSERT_TRUE(locker.rollback());

    EXPECT_EQ(send(code::kPasswordCheck, "secret"), 1);
    const auto second = backendOf();
    ASSERT_TRUE(second);
    EXPECT_NE(*second, *first);
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
    // The rules cannot be read: refused, whatever the home directory says.
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(rules(), 0);
    const std::size_t before = ::mallinfo2().uordblks;
    for (int i = 0; i < 3000; ++i)
        (void)rules();
    const std::size_t after = ::mallinfo2().uordblks;
    // 3000 leaked buffers of a 30-byte name would be some 150 kB.
    EXPECT_LT(after, before + 48 * 1024);
    exec(db_, "alter table dir_rights_gone rename to dir_rights");
    EXPECT_EQ(rules(), 1);
}

// Another process that holds a SQLite file's exclusive lock until it is
// told to let go.
class SqliteLockHolder {
  public:
    explicit SqliteLockHolder(const std::string& file) {
        int toChild[2];
        int fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        const char* script =
            "import sqlite3, sys\n"
            "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
            "c.execute('begin exclusive')\n"
            "print('locked', flush=True)\n"
            "sys.stdin.read()\n"
            "c.execute('rollback')\n";
        const char* argv[] = {"/usr/bin/python3", "-c", script, file.c_str(), nullptr};
        const int spawned =
            posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        toChild_ = toChild[1];
        if (spawned != 0) pid_ = -1;
        std::string said;
        char c = 0;
        while (spawned == 0 && ::read(fromChild[0], &c, 1) == 1 && c != '\n')
            said += c;
        ::close(fromChild[0]);
        locked_ = said == "locked";
    }
    ~SqliteLockHolder() { release(); }
    bool locked() const { return locked_; }
    void release() {
        if (toChild_ >= 0) ::close(toChild_);
        toChild_ = -1;
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    bool locked_ = false;
};

// Events queue behind a SQLite file's one connection: while another
// process holds the file, each event, its place in the queue included, is
// refused within the bound instead of waiting out every event before it.
TEST(SqliteWaiting, EventsBehindALockedFileAreRefusedWithinTheBound) {
    auto scratch = kestrix::test::makeScratchDatabase(Engine::SQLite);
    Database db;
    ASSERT_TRUE(db.open(scratch->connectionString())) << db.lastError();
    insertUser(db, "bob", "/srv/ftp/bob", "secret");
    db.close();
    ManualClock clock;  // never moves: no retry interval ever passes
    EventDispatcher dispatcher([&] { return scratch->connectionString(); }, clock.function());
    auto login = [&] {
        ClientEvent event = makeEvent(code::kPasswordCheck, "bob", "secret");
        EXPECT_EQ(dispatcher.handle(&event), 1);
        return event.flag;
    };
    ASSERT_EQ(login(), 1);

    const auto parsed = parseConnectionString(scratch->connectionString());
    ASSERT_TRUE(parsed.target);
    SqliteLockHolder holder(parsed.target->path);
    ASSERT_TRUE(holder.locked());
    constexpr int kEvents = 8;
    std::vector<int32_t> flags(kEvents, -1);
    std::vector<std::chrono::steady_clock::duration> waits(kEvents);
    std::vector<std::thread> threads;
    for (int i = 0; i < kEvents; ++i) {
        threads.emplace_back([&, i] {
            const auto start = std::chrono::steady_clock::now();
            flags[i] = login();
            waits[i] = std::chrono::steady_clock::now() - start;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < kEvents; ++i) {
        EXPECT_EQ(flags[i], 0) << i;
        // A generous margin over the bound of about 4 s, well below the
        // 3 s each that the events before it would otherwise add.
        EXPECT_LT(waits[i], 10s) << i;
    }
    holder.release();
    EXPECT_EQ(login(), 1);
}

// A password hash does not keep the only store from the events behind it,
// and the event that set the store aside gets that same store back, or
// none at its deadline without the store being lost to the pool.
TEST(StorePoolLending, AStoreSetAsideServesOthersAndComesBackOrIsLeftToThem) {
    StorePool pool(realClock());
    pool.start("", 1);
    const auto now = [] { return std::chrono::steady_clock::now(); };
    auto lease = pool.acquire(now() + 1s);
    ASSERT_TRUE(lease);
    AccountStore* const only = &lease->store();
    EXPECT_FALSE(pool.acquire(now()));

    bool servedMeanwhile = false;
    ASSERT_TRUE(lease->setAside(
        [&] {
            auto other = pool.acquire(now());
            servedMeanwhile = other && &other->store() == only;
        },
        now() + 1s));
    EXPECT_TRUE(servedMeanwhile);
    EXPECT_TRUE(lease->held());
    EXPECT_FALSE(pool.acquire(now()));

    // Another event keeps the store past this one's deadline.
    std::unique_ptr<std::optional<StorePool::Lease>> keeper;
    EXPECT_FALSE(lease->setAside(
        [&] { keeper.reset(new std::optional<StorePool::Lease>(pool.acquire(now()))); },
        now() + 50ms));
    ASSERT_TRUE(keeper && *keeper);
    EXPECT_FALSE(lease->held());
    lease.reset();
    EXPECT_FALSE(pool.acquire(now()));
    keeper.reset();
    auto again = pool.acquire(now());
    ASSERT_TRUE(again);
    EXPECT_EQ(&again->store(), only);
}

}  // namespace
}  // namespace kestrix::plugin::test

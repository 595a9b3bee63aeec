// The connection: read once, opened at the first event, tried again while
// the database is missing, reopened when it breaks.
#include <gtest/gtest.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <unistd.h>

#include <thread>

#include "core/schema.h"
#include "core/sql_literal.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

using namespace std::chrono_literals;

TEST(NoConnectionString, EveryLoginIsRefusedForTheLifeOfTheLibrary) {
    ManualClock clock;
    int reads = 0;
    EventDispatcher dispatcher(
        [&] {
            ++reads;
            return std::string();
        },
        clock.function());
    auto send = [&](int32_t code, const char* user, const char* data) {
        ClientEvent event = makeEvent(code, user, data);
        EXPECT_EQ(dispatcher.handle(&event), 1);
        return event;
    };
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(send(code::kPasswordCheck, "bob", "secret").flag, 0);
        EXPECT_EQ(send(code::kPasswordCheckToo, "bob", "secret").flag, 0);
        EXPECT_EQ(send(code::kAddressAllowed, "", "127.0.0.1").flag, 0);
        EXPECT_EQ(send(code::kHomeDirectory, "bob", "").flag, 0);
        // A limit that cannot be read refuses too.
        const ClientEvent limit = send(code::kMaxConcurrent, "bob", "");
        EXPECT_EQ(limit.flag, 0);
        EXPECT_EQ(fieldText(limit.data), "1");
        EXPECT_EQ(send(code::kLoginMessageFile, "bob", "").flag, kServerFlag);
        clock.advance(1min);
    }
    EXPECT_EQ(reads, 1);
}

// A database that does not exist yet: a SQLite file not yet written, or a
// PostgreSQL database not yet created.
class LateDatabase {
  public:
    explicit LateDatabase(Engine engine) : engine_(engine) {
        static int counter = 0;
        if (engine == Engine::SQLite) {
            path_ = (dir_.path() / "late.db").string();
        } else {
            name_ = "kx_late_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
        }
    }
    ~LateDatabase() {
        if (engine_ == Engine::PostgreSQL && created_) {
            try {
                admin() << "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)";
            } catch (const std::exception&) {
            }
        }
    }
    std::string connectionString() const {
        if (engine_ == Engine::SQLite) return "Provider=SQLite;Data Source=" + path_;
        const auto& server = kestrix::test::pgServer();
        return "Provider=PostgreSQL;Data Source=" + server.host + ":" + server.port +
               ";Initial Catalog=" + name_ + ";User ID=postgres";
    }
    // Creates the database with its tables and opens `db` on it.
    void create(Database& db) {
        if (engine_ == Engine::SQLite) {
            std::string error;
            ASSERT_TRUE(createSqliteDatabaseFile(path_, &error)) << error;
        } else {
            for (const auto& statement :
                 dialectFor(Engine::PostgreSQL).createDatabaseStatements(name_)) {
                admin() << statement;
            }
            created_ = true;
        }
        ASSERT_TRUE(db.open(connectionString())) << db.lastError();
        if (engine_ == Engine::PostgreSQL) {
            ASSERT_TRUE(createSchema(db)) << db.lastError();
        }
    }

  private:
    soci::session admin() const {
        const auto& server = kestrix::test::pgServer();
        return soci::session(
            *soci::factory_postgresql(),
            "host=" + server.host + " port=" + server.port + " user=postgres dbname=postgres");
    }

    Engine engine_;
    TempDir dir_;
    std::string path_;
    std::string name_;
    bool created_ = false;
};

class Connection : public ::testing::TestWithParam<Engine> {};

TEST_P(Connection, AMissingDatabaseIsTriedAgainAfterTheRetryInterval) {
    LateDatabase late(GetParam());
    ManualClock clock;
    int reads = 0;
    EventDispatcher dispatcher(
        [&] {
            ++reads;
            return late.connectionString();
        },
        clock.function());
    auto login = [&] {
        ClientEvent event = makeEvent(code::kPasswordCheck, "bob", "secret");
        EXPECT_EQ(dispatcher.handle(&event), 1);
        return event.flag;
    };
    EXPECT_EQ(login(), 0);

    Database db;
    late.create(db);
    insertUser(db, "bob", "/srv/ftp/bob", "secret");

    clock.advance(AccountStore::kRetryInterval - 1ms);
    EXPECT_EQ(login(), 0);  // too soon for another attempt
    clock.advance(1ms);
    EXPECT_EQ(login(), 1);
    EXPECT_EQ(login(), 1);
    EXPECT_EQ(reads, 1);
}

TEST_P(Connection, TheConnectionStringIsReadOnlyAtTheFirstEvent) {
    auto first = kestrix::test::makeScratchDatabase(GetParam());
    auto second = kestrix::test::makeScratchDatabase(GetParam());
    Database a;
    Database b;
    ASSERT_TRUE(a.open(first->connectionString())) << a.lastError();
    ASSERT_TRUE(b.open(second->connectionString())) << b.lastError();
    insertUser(a, "bob", "/first", "one");
    insertUser(b, "bob", "/second", "two");

    ManualClock clock;
    std::string current = first->connectionString();
    EventDispatcher dispatcher([&] { return current; }, clock.function());
    auto home = [&] {
        ClientEvent event = makeEvent(code::kHomeDirectory, "bob");
        EXPECT_EQ(dispatcher.handle(&event), 1);
        return fieldText(event.data);
    };
    // The first event may be one that is not answered; it still reads.
    ClientEvent unanswered = makeEvent(8, "bob");
    EXPECT_EQ(dispatcher.handle(&unanswered), 0);
    current = second->connectionString();
    EXPECT_EQ(home(), "/first");
    clock.advance(1h);
    EXPECT_EQ(home(), "/first");
}

TEST_P(Connection, AFailingStatementGivesTheNoValueAnswerAndLaterEventsWork) {
    auto scratch = kestrix::test::makeScratchDatabase(GetParam());
    Database db;
    ASSERT_TRUE(db.open(scratch->connectionString())) << db.lastError();
    insertUser(db, "bob", "/srv/ftp/bob", "secret");
    ManualClock clock;
    EventDispatcher dispatcher([&] { return scratch->connectionString(); }, clock.function());
    auto send = [&](int32_t code, const char* user, const char* data) {
        ClientEvent event = makeEvent(code, user, data);
        EXPECT_EQ(dispatcher.handle(&event), 1);
        return event;
    };
    EXPECT_EQ(send(code::kAddressAllowed, "", "10.0.0.1").flag, 1);
    exec(db, "drop table blocked_ips");
    // Nothing notifies of SQL of its own: the kept list answers its time.
    clock.advance(AccountStore::kListLifetime);
    EXPECT_EQ(send(code::kAddressAllowed, "", "10.0.0.1").flag, 0);
    EXPECT_EQ(send(code::kPasswordCheck, "bob", "secret").flag, 1);
    exec(db, "create table blocked_ips (ip varchar(15), comments varchar(256))");
    EXPECT_EQ(send(code::kAddressAllowed, "", "10.0.0.1").flag, 1);
}

KESTRIX_ON_BOTH_ENGINES(Connection);

// The server ends the plug-in's session (as it does when it restarts): the
// next read reopens the connection once and answers.
TEST(PostgresConnection, ABrokenConnectionIsReopenedOnceAndTheReadRepeated) {
    auto scratch = kestrix::test::makeScratchDatabase(Engine::PostgreSQL);
    Database db;
    ASSERT_TRUE(db.open(scratch->connectionString())) << db.lastError();
    insertUser(db, "bob", "/srv/ftp/bob", "secret");
    exec(db, "update users set max_concurrent=4");
    ManualClock clock;
    EventDispatcher dispatcher([&] { return scratch->connectionString(); }, clock.function());
    auto send = [&](int32_t code, const char* user, const char* data) {
        ClientEvent event = makeEvent(code, user, data);
        EXPECT_EQ(dispatcher.handle(&event), 1);
        return event;
    };
    auto backends = [&] {
        auto rs = db.query(
            "select count(*) as n from pg_stat_activity where datname=current_database() and "
            "pid<>pg_backend_pid()");
        return rs && !rs->eof() ? rs->integer("n").value_or(-1) : -1;
    };
    EXPECT_EQ(send(code::kPasswordCheck, "bob", "secret").flag, 1);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(backends(), 1);
        auto rs = db.query(
            "select pg_terminate_backend(pid) as gone from pg_stat_activity where "
            "datname=current_database() and pid<>pg_backend_pid()");
        ASSERT_TRUE(rs) << db.lastError();
        // Termination is asynchronous; wait until the session is gone (the
        // minute only ends a hung test).
        for (int i = 0; i < 6000 && backends() != 0; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(backends(), 0);
        // Each kind of statement in turn meets the broken connection.
        switch (round) {
            case 0:
                EXPECT_EQ(send(code::kPasswordCheck, "bob", "secret").flag, 1);
                break;
            case 1:
                // Past the row the login read, so the read goes to the server.
                clock.advance(AccountStore::kRowLifetime);
                EXPECT_EQ(fieldText(send(code::kMaxConcurrent, "bob", "").data), "4");
                break;
            case 2:
                EXPECT_EQ(send(code::kPasswordChange, "bob", "changed").flag, 1);
                EXPECT_EQ(send(code::kPasswordCheck, "bob", "changed").flag, 1);
                break;
        }
    }
}

}  // namespace
}  // namespace kestrix::plugin::test

namespace kestrix::plugin::test {
namespace {

// A single-row read must not keep the database file locked after the
// event: the program writes to the same file between two events.
TEST(SqliteConnection, AnEventLeavesNoReadLockBehind) {
    auto scratch = kestrix::test::makeScratchDatabase(Engine::SQLite);
    Database db;
    ASSERT_TRUE(db.open(scratch->connectionString())) << db.lastError();
    // A database made before names were unique may hold one twice.
    ASSERT_TRUE(db.execute("drop index users_username_idx")) << db.lastError();
    insertUser(db, "bob", "/srv/ftp/bob", "secret");
    insertUser(db, "bob", "/srv/ftp/bob2", "secret");  // a second row left unread
    ManualClock clock;
    EventDispatcher dispatcher([&] { return scratch->connectionString(); }, clock.function());
    for (int32_t code : {code::kMaxConcurrent, code::kHomeDirectory, code::kPasswordCheck}) {
        ClientEvent event = makeEvent(code, "bob", "secret");
        ASSERT_EQ(dispatcher.handle(&event), 1);
        EXPECT_TRUE(db.execute("update users set max_concurrent=max_concurrent+1"))
            << code << ": " << db.lastError();
    }
}

}  // namespace
}  // namespace kestrix::plugin::test

// The database server restarts under a running plug-in. The server here is
// a private one, so that stopping it disturbs no other test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "core/schema.h"
#include "core/settings.h"
#include "tests/plugin/loaded_plugin.h"
#include "tests/plugin/plugin_support.h"
#include "tests/support/private_postgres.h"

namespace kestrix::plugin::test {
namespace {

using kestrix::test::PrivatePostgres;

using namespace std::chrono_literals;

class ServerRestart : public ::testing::Test {
  protected:
    void SetUp() override {
        Database admin;
        ASSERT_TRUE(admin.open(server_.connectionString("postgres"))) << admin.lastError();
        for (const auto& statement :
             dialectFor(Engine::PostgreSQL).createDatabaseStatements("kx_restart")) {
            exec(admin, statement);
        }
        Database db;
        ASSERT_TRUE(db.open(connectionString())) << db.lastError();
        ASSERT_TRUE(createSchema(db)) << db.lastError();
        insertUser(db, "bob", "/srv/ftp/bob", "secret");
        exec(db, "update users set quota_current=100, quota_max=1000");
    }
    std::string connectionString() { return server_.connectionString("kx_restart"); }

    PrivatePostgres server_;
};

TEST_F(ServerRestart, TheLoadedLibraryAnswersRightAfterARestart) {
    kestrix::test::ScopedRegistry registry;
    ASSERT_TRUE(writeConnectionString(connectionString()));
    LoadedPlugin plugin;
    auto send = [&](int32_t code, const char* data) {
        ClientEvent event = makeEvent(code, "bob", data);
        EXPECT_EQ(plugin.handle(&event), 1);
        return event;
    };
    EXPECT_EQ(send(code::kPasswordCheck, "secret").flag, 1);
    for (int round = 0; round < 2; ++round) {
        server_.restart();
        EXPECT_EQ(send(code::kPasswordCheck, "secret").flag, 1);
        server_.restart();
        EXPECT_EQ(send(code::kQuotaCurrent, "10").flag, 1);
        EXPECT_EQ(fieldText(send(code::kQuotaCurrent, "0").data), std::to_string(90 - 10 * round));
    }
}

TEST_F(ServerRestart, WhileTheServerIsDownLoginsAreRefusedThenItIsTriedAgainAfterTheRetryInterval) {
    ManualClock clock;
    EventDispatcher dispatcher([&] { return connectionString(); }, clock.function());
    auto login = [&] {
        ClientEvent event = makeEvent(code::kPasswordCheck, "bob", "secret");
        EXPECT_EQ(dispatcher.handle(&event), 1);
        return event.flag;
    };
    auto limit = [&] {
        ClientEvent event = makeEvent(code::kMaxConcurrent, "bob");
        EXPECT_EQ(dispatcher.handle(&event), 1);
        return std::to_string(event.flag) + ":" + fieldText(event.data);
    };
    EXPECT_EQ(login(), 1);
    server_.stop();
    EXPECT_EQ(login(), 0);      // the read fails, reopening fails
    EXPECT_EQ(limit(), "0:1");  // unread, the limit refuses
    server_.start();
    clock.advance(AccountStore::kRetryInterval - 1ms);
    EXPECT_EQ(login(), 0);  // not yet tried again
    clock.advance(1ms);
    EXPECT_EQ(login(), 1);
    EXPECT_EQ(limit(), "1:1");
}

// The server stops answering at all (its processes stopped): each event
// ends within seconds with the no-value answer, and logins work again soon
// after the server continues.
TEST_F(ServerRestart, AStoppedServerKeepsNoEventWaitingAndLoginsReturnAfterIt) {
    using Steady = std::chrono::steady_clock;
    EventDispatcher dispatcher([&] { return connectionString(); }, [] { return Steady::now(); });
    auto login = [&] {
        ClientEvent event = makeEvent(code::kPasswordCheck, "bob", "secret");
        EXPECT_EQ(dispatcher.handle(&event), 1);
        return event.flag;
    };
    ASSERT_EQ(login(), 1);
    server_.signalAll(SIGSTOP);
    // Declared before the guard, so that a hung event is let go (SIGCONT)
    // before the test waits for its thread.
    std::future<std::string> answered;
    struct Continue {
        PrivatePostgres& server;
        ~Continue() { server.signalAll(SIGCONT); }
    } continueAtEnd{server_};
    answered = std::async(std::launch::async, [&] {
        EXPECT_EQ(login(), 0);
        ClientEvent limit = makeEvent(code::kMaxConcurrent, "bob");
        EXPECT_EQ(dispatcher.handle(&limit), 1);
        return std::to_string(limit.flag) + ":" + fieldText(limit.data);
    });
    // The events end on their own, refused (a limit that cannot be read
    // refuses too); the limit is far above their time-out and only ends a
    // test they hang.
    ASSERT_EQ(answered.wait_for(120s), std::future_status::ready);
    EXPECT_EQ(answered.get(), "0:1");

    server_.signalAll(SIGCONT);
    // Logins return after the retry interval; the limit only ends a hung test.
    const auto back = Steady::now();
    while (login() != 1 && Steady::now() - back < 120s)
        std::this_thread::sleep_for(200ms);
    EXPECT_EQ(login(), 1);
}

}  // namespace
}  // namespace kestrix::plugin::test

// The plug-in keeps the server-wide address list while it is unchanged and
// sees a change made through kestrix at the next connection.
#include <chrono>
#include <thread>

#include "plugin/account_store.h"
#include "plugin/client_event.h"
#include "plugin/event_dispatcher.h"
#include "tests/cli/cli_fixture.h"

namespace kestrix::cli::test {
namespace {

namespace code = plugin::code;
using namespace std::chrono_literals;

class ListChanges : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        const std::string connectionString = scratch_->connectionString();
        dispatcher_ = std::make_unique<plugin::EventDispatcher>(
            [connectionString] { return connectionString; }, [this] { return now_; });
    }

    // The answer to a connection from the address: 1 allowed, 0 refused.
    int connects(const char* address) {
        ClientEvent event{};
        event.code = code::kAddressAllowed;
        std::snprintf(event.data, sizeof event.data, "%s", address);
        std::snprintf(event.address, sizeof event.address, "%s", address);
        EXPECT_EQ(dispatcher_->handle(&event), 1);
        return event.flag;
    }

    // The notification travels on its own after the change commits: the
    // next connections are asked until one is refused (the minute only
    // ends a test that fails).
    bool refusedSoon(const char* address) {
        for (int i = 0; i < 6000; ++i) {
            if (connects(address) == 0) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    std::chrono::steady_clock::time_point now_{std::chrono::hours(1000)};
    std::unique_ptr<plugin::EventDispatcher> dispatcher_;
};

TEST_P(ListChanges, AChangeThroughKestrixRefusesTheNextConnectionAndOtherSqlWithinTheBound) {
    ASSERT_EQ(connects("10.7.7.7"), 1);
    ASSERT_EQ(connects("10.6.6.6"), 1);

    // The kept list's time does not pass here: only the change itself can
    // make the plug-in read it again.
    const Ran added = runKestrix({"ip", "add", "10.7.7.7"});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_TRUE(refusedSoon("10.7.7.7"));
    EXPECT_EQ(connects("10.6.6.6"), 1);

    const Ran removed = runKestrix({"ip", "remove", "10.7.7.7"});
    ASSERT_EQ(removed.status, 0) << removed.err;
    for (int i = 0; i < 6000 && connects("10.7.7.7") == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(connects("10.7.7.7"), 1);

    // SQL of its own: SQLite's file tells of the change at once; PostgreSQL
    // sends nothing, and the list is read again once its time is up.
    sql("INSERT INTO blocked_ips (ip) VALUES ('10.6.6.0/24')");
    if (GetParam() == Engine::PostgreSQL) {
        EXPECT_EQ(connects("10.6.6.6"), 1);
        now_ += plugin::AccountStore::kListLifetime;
    }
    EXPECT_EQ(connects("10.6.6.6"), 0);
}

KESTRIX_CLI_ON_BOTH_ENGINES(ListChanges);

}  // namespace
}  // namespace kestrix::cli::test

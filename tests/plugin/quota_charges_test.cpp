// Quota charges and credit changes at the same moment, from many threads:
// every one counts, none passes the bounds. On PostgreSQL the threads are
// those of two servers on one database. A SQLite file serves one server:
// two that write it without pause starve each other's lock waits, whatever
// the plug-in does.
#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>
#include <vector>

#include "plugin/quota_ratio.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

constexpr int kThreads = 8;
constexpr int kEventsEach = 100;

class QuotaCharges : public EventTest {
  protected:
    void SetUp() override {
        EventTest::SetUp();
        insertUser(db_, "una", "/srv/ftp/una", "p");
        if (GetParam() == Engine::PostgreSQL) {
            const std::string connectionString = scratch_->connectionString();
            second_ = std::make_unique<EventDispatcher>(
                [connectionString] { return connectionString; }, clock_.function());
        }
    }

    // Runs kEventsEach events of data(thread) on each of kThreads threads at
    // once, half of them through the second server if there is one; the
    // number answered 1.
    int sendAtOnce(int32_t code, const std::function<std::string(int)>& data) {
        std::atomic<int> granted{0};
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                EventDispatcher& dispatcher = t % 2 == 0 || !second_ ? *dispatcher_ : *second_;
                const std::string text = data(t);
                ++ready;
                while (ready.load() < kThreads)
                    std::this_thread::yield();
                for (int i = 0; i < kEventsEach; ++i) {
                    ClientEvent event = makeEvent(code, "una", text);
                    EXPECT_EQ(dispatcher.handle(&event), 1);
                    if (event.flag == 1) ++granted;
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        return granted.load();
    }
    std::optional<double> stored(const std::string& column) {
        auto rs = db_.query("select " + column + " from users where username='una'");
        if (!rs || rs->eof()) return std::nullopt;
        return rs->number(column);
    }

    std::unique_ptr<EventDispatcher> second_;
};

TEST_P(QuotaCharges, EveryChargeAndRefundCountsAboveTwoGibibytes) {
    // 5 GiB left of 6 GiB: uploads of 1 MiB and deletions of 4 KiB.
    exec(db_, "update users set quota_current=5368709120, quota_max=6442450944");
    const int granted =
        sendAtOnce(code::kQuotaCurrent, [](int t) { return t % 2 == 0 ? "1048576" : "-4096"; });
    EXPECT_EQ(granted, kThreads * kEventsEach);
    const double charged = 4.0 * kEventsEach * 1048576;
    const double refunded = 4.0 * kEventsEach * 4096;
    EXPECT_EQ(stored("quota_current"), 5368709120.0 - charged + refunded);
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "0").data(),
              std::to_string(5368709120LL - 419430400LL + 1638400LL));
}

TEST_P(QuotaCharges, RefundsAtOnceStopExactlyAtTheMaximum) {
    exec(db_, "update users set quota_current=0, quota_max=500");
    const int granted = sendAtOnce(code::kQuotaCurrent, [](int) { return "-1"; });
    EXPECT_EQ(granted, 500);
    EXPECT_EQ(stored("quota_current"), 500);
    // Charges beyond what is left all pass and leave 0.
    EXPECT_EQ(sendAtOnce(code::kQuotaCurrent, [](int) { return "1"; }), kThreads * kEventsEach);
    EXPECT_EQ(stored("quota_current"), 0);
}

TEST_P(QuotaCharges, CreditChangesAtOnceAllCount) {
    exec(db_, "update users set ratio_current_credit=1000");
    const int granted =
        sendAtOnce(code::kRatioCredit, [](int t) { return t % 2 == 0 ? "2.5" : "-1"; });
    EXPECT_EQ(granted, kThreads * kEventsEach);
    EXPECT_EQ(stored("ratio_current_credit"), 1000 + 4 * kEventsEach * 2.5 - 4 * kEventsEach);
}

// The statement does what applyQuotaAmount does, for every kind of stored
// value: empty, the no-value mark, below 0, above the maximum, above 2 GiB.
TEST_P(QuotaCharges, TheStatementFollowsTheQuotaArithmetic) {
    const std::vector<std::optional<long long>> currents = {
        std::nullopt, kNoValue, -5, 0, 200, 950, 5000, 3221225472LL};
    const std::vector<std::optional<long long>> maximums = {std::nullopt, kNoValue,    -1, 0,
                                                            1000,         6442450944LL};
    const std::vector<long long> amounts = {300,
                                            -100,
                                            -50,
                                            1,
                                            -1073741824LL,
                                            std::numeric_limits<long long>::max(),
                                            std::numeric_limits<long long>::min()};
    auto sqlNumber = [](const std::optional<long long>& value) {
        return value ? std::to_string(*value) : std::string("null");
    };
    struct Case {
        std::string user;
        std::optional<long long> current;
        std::optional<long long> maximum;
        long long amount;
    };
    std::vector<Case> cases;
    ASSERT_TRUE(db_.begin());
    for (const auto& current : currents) {
        for (const auto& maximum : maximums) {
            for (long long amount : amounts) {
                Case c{"q" + std::to_string(cases.size()), current, maximum, amount};
                exec(db_,
                     "insert into users (username, homedir, max_concurrent, "
                     "max_logins_per_ip, quota_current, quota_max) values ('" +
                         c.user + "', '/srv', 1, 1, " + sqlNumber(current) + ", " +
                         sqlNumber(maximum) + ")");
                cases.push_back(c);
            }
        }
    }
    ASSERT_TRUE(db_.commit());
    for (const Case& c : cases) {
        const auto noMark = [](const std::optional<long long>& v) {
            return v == kNoValue ? std::nullopt : v;
        };
        const auto maximum = noMark(c.maximum);
        const QuotaChange expected =
            maximum ? applyQuotaAmount(noMark(c.current), *maximum, c.amount) : QuotaChange{};
        const std::string what = sqlNumber(c.current) + " of " + sqlNumber(c.maximum) + " less " +
                                 std::to_string(c.amount);
        EXPECT_EQ(send(code::kQuotaCurrent, c.user, std::to_string(c.amount)).flag(),
                  expected.accepted ? 1 : 0)
            << what;
        auto rs = db_.query("select quota_current from users where username='" + c.user + "'");
        ASSERT_TRUE(rs && !rs->eof()) << db_.lastError();
        const auto stored = rs->number("quota_current");
        const auto before = c.current ? std::optional<double>(*c.current) : std::nullopt;
        EXPECT_EQ(stored, expected.accepted ? std::optional<double>(expected.newValue) : before)
            << what;
    }
}

KESTRIX_ON_BOTH_ENGINES(QuotaCharges);

}  // namespace
}  // namespace kestrix::plugin::test

// Ratio credit, ratio-free files and the disk quota.
#include <gtest/gtest.h>

#include <fstream>

#include "core/sql_literal.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

namespace fs = std::filesystem;

class QuotaRatioEvents : public EventTest {
  protected:
    void SetUp() override {
        EventTest::SetUp();
        insertUser(db_, "una", "/srv/ftp/una", "p");
    }

    std::optional<double> storedNumber(const std::string& column) {
        auto rs = db_.query("select " + column + " from users where username='una'");
        if (!rs || rs->eof()) return std::nullopt;
        return rs->number(column);
    }
    void setQuota(const char* current, const char* maximum) {
        exec(db_,
             std::string("update users set quota_current=") + current + ", quota_max=" + maximum);
    }
};

TEST_P(QuotaRatioEvents, CreditIsReadInTheGeneralNumberForm) {
    EXPECT_EQ(send(code::kRatioCredit, "una", "0").flag(), 0);  // NULL
    const std::pair<const char*, const char*> cases[] = {{"3", "3.0"},
                                                         {"2.5", "2.5"},
                                                         {"-4", "-4.0"},
                                                         {"0", "0.0"},
                                                         {"12345", "12345.0"},
                                                         {"0.125", "0.125"},
                                                         {"123456", "1.2346e+05"},
                                                         {"1.23456789", "1.2346"}};
    for (const auto& [value, text] : cases) {
        exec(db_, std::string("update users set ratio_current_credit=") + value);
        auto reply = send(code::kRatioCredit, "una", "0");
        EXPECT_EQ(reply.result, 1);
        EXPECT_EQ(reply.flag(), 1) << value;
        EXPECT_EQ(reply.data(), text) << value;
    }
    exec(db_, "update users set ratio_current_credit=1.7e308");
    EXPECT_EQ(send(code::kRatioCredit, "una", "0").flag(), 0);
    EXPECT_EQ(send(code::kRatioCredit, "nobody", "0").flag(), 0);
}

TEST_P(QuotaRatioEvents, CreditIsAddedFromTheLeadingNumber) {
    exec(db_, "update users set ratio_current_credit=3");
    auto added = send(code::kRatioCredit, "UNA", "2.5");
    EXPECT_EQ(added.result, 1);
    EXPECT_EQ(added.flag(), 1);
    EXPECT_EQ(storedNumber("ratio_current_credit"), 5.5);
    send(code::kRatioCredit, "una", "-10 bytes");
    EXPECT_EQ(storedNumber("ratio_current_credit"), -4.5);
    send(code::kRatioCredit, "una", "1e2");
    EXPECT_EQ(storedNumber("ratio_current_credit"), 95.5);
    send(code::kRatioCredit, "una", "nothing");
    EXPECT_EQ(storedNumber("ratio_current_credit"), 95.5);
    // No row: nothing changes, the flag is still 1.
    EXPECT_EQ(send(code::kRatioCredit, "nobody", "5").flag(), 1);
    EXPECT_EQ(send(code::kRatioCredit, "una", "0").data(), "95.5");
}

TEST_P(QuotaRatioEvents, RatioFreeFilesOfTheUserAndOfEveryone) {
    TempDir dir;
    for (const char* name : {"free.txt", "all.txt", "paid.txt", "theirs.txt"})
        std::ofstream(dir.path() / name) << "x";
    auto file = [&](const char* name) { return (dir.path() / name).string(); };
    exec(db_, "insert into ratio_free_files (username, filename) values ('Una', " +
                  sqlText(file("free.txt")) + ")");
    exec(db_, "insert into ratio_free_files (username, filename) values ('*', " +
                  sqlText(dir.path().string() + "/./all.txt") + ")");
    insertUser(db_, "other", "/srv/ftp/other", "p");
    exec(db_, "insert into ratio_free_files (username, filename) values ('other', " +
                  sqlText(file("theirs.txt")) + ")");
    exec(db_, "insert into ratio_free_files (username, filename) values ('una', " +
                  sqlText(file("gone.txt")) + ")");
    EXPECT_EQ(send(code::kRatioFree, "una", file("free.txt")).flag(), 1);
    // Both sides are resolved on disk before they are compared.
    EXPECT_EQ(send(code::kRatioFree, "una", file("all.txt")).flag(), 1);
    EXPECT_EQ(send(code::kRatioFree, "una", dir.path().string() + "//free.txt").flag(), 1);
    EXPECT_EQ(send(code::kRatioFree, "una", file("paid.txt")).flag(), 0);
    EXPECT_EQ(send(code::kRatioFree, "una", file("theirs.txt")).flag(), 0);
    // A file that does not exist matches nothing.
    EXPECT_EQ(send(code::kRatioFree, "una", file("gone.txt")).flag(), 0);
}

TEST_P(QuotaRatioEvents, QuotaReadFallsBackToTheMaximum) {
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "0").data(), "0");
    setQuota("200", "1000");
    auto reply = send(code::kQuotaCurrent, "una", "0");
    EXPECT_EQ(reply.result, 1);
    EXPECT_EQ(reply.flag(), 1);
    EXPECT_EQ(reply.data(), "200");
    setQuota("null", "1000");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "0").data(), "1000");
    setQuota("2147483647", "1000");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "0").data(), "1000");
    setQuota("null", "2147483647");
    auto none = send(code::kQuotaCurrent, "una", "0");
    EXPECT_EQ(none.flag(), 0);
    EXPECT_EQ(none.data(), "0");
    setQuota("null", "null");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "0").flag(), 0);
    EXPECT_EQ(send(code::kQuotaCurrent, "nobody", "0").flag(), 0);
}

TEST_P(QuotaRatioEvents, QuotaChangeStaysBetweenZeroAndTheMaximum) {
    setQuota("200", "1000");
    auto lowered = send(code::kQuotaCurrent, "una", "300");
    EXPECT_EQ(lowered.result, 1);
    EXPECT_EQ(lowered.flag(), 1);
    EXPECT_EQ(storedNumber("quota_current"), 0);

    setQuota("950", "1000");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "-100").flag(), 0);
    EXPECT_EQ(storedNumber("quota_current"), 950);
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "-50").flag(), 1);
    EXPECT_EQ(storedNumber("quota_current"), 1000);
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "250 bytes").flag(), 1);
    EXPECT_EQ(storedNumber("quota_current"), 750);
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "+50").flag(), 1);
    EXPECT_EQ(storedNumber("quota_current"), 700);
}

TEST_P(QuotaRatioEvents, QuotaChangeNeedsAMaximum) {
    struct Case {
        const char* current;
        const char* maximum;
        std::optional<double> kept;
    };
    for (const Case& c : {Case{"500", "null", 500.0}, Case{"500", "2147483647", 500.0}}) {
        setQuota(c.current, c.maximum);
        EXPECT_EQ(send(code::kQuotaCurrent, "una", "100").flag(), 0)
            << c.current << " " << c.maximum;
        EXPECT_EQ(storedNumber("quota_current"), c.kept);
    }
    setQuota("500", "1000");
    EXPECT_EQ(send(code::kQuotaCurrent, "nobody", "100").flag(), 0);
    // An amount beyond 64 bits changes nothing.
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "99999999999999999999").flag(), 0);
    EXPECT_EQ(storedNumber("quota_current"), 500);
}

// A remaining quota above the maximum (the maximum lowered) or empty must
// still count every upload, never above the maximum.
TEST_P(QuotaRatioEvents, AnEmptyOrTooLargeRemainingQuotaCountsFromTheMaximum) {
    setQuota("5000", "1000");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "0").data(), "1000");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "300").flag(), 1);
    EXPECT_EQ(storedNumber("quota_current"), 700);
    setQuota("5000", "1000");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "-100").flag(), 0);
    EXPECT_EQ(storedNumber("quota_current"), 5000);

    for (const char* empty : {"null", "2147483647"}) {
        setQuota(empty, "1000");
        EXPECT_EQ(send(code::kQuotaCurrent, "una", "100").flag(), 1) << empty;
        EXPECT_EQ(storedNumber("quota_current"), 900) << empty;
        EXPECT_EQ(send(code::kQuotaCurrent, "una", "2000").flag(), 1) << empty;
        EXPECT_EQ(storedNumber("quota_current"), 0) << empty;
    }
    // No maximum: nothing to count against.
    setQuota("null", "null");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "100").flag(), 0);
    EXPECT_EQ(storedNumber("quota_current"), std::nullopt);
}

TEST_P(QuotaRatioEvents, ACreditThatWouldBecomeInfiniteIsRefused) {
    exec(db_, "update users set ratio_current_credit=1.7e308 where username='una'");
    EXPECT_EQ(send(code::kRatioCredit, "una", "1e308").flag(), 0);
    EXPECT_EQ(storedNumber("ratio_current_credit"), 1.7e308);
    EXPECT_EQ(send(code::kRatioCredit, "una", "-1e308").flag(), 1);
    EXPECT_EQ(storedNumber("ratio_current_credit"), 1.7e308 - 1e308);
    exec(db_, "update users set ratio_current_credit=-1.7e308 where username='una'");
    EXPECT_EQ(send(code::kRatioCredit, "una", "-1e308").flag(), 0);
    EXPECT_EQ(storedNumber("ratio_current_credit"), -1.7e308);
}

TEST_P(QuotaRatioEvents, QuotaOfTenGibibytes) {
    setQuota("10737418240", "21474836480");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "0").data(), "10737418240");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "-1073741824").flag(), 1);
    EXPECT_EQ(storedNumber("quota_current"), 11811160064.0);
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "0").data(), "11811160064");
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "11811160000").flag(), 1);
    EXPECT_EQ(send(code::kQuotaCurrent, "una", "0").data(), "64");
    EXPECT_EQ(send(code::kQuotaMax, "una").data(), "21474836480");
}

KESTRIX_ON_BOTH_ENGINES(QuotaRatioEvents);

}  // namespace
}  // namespace kestrix::plugin::test

// What the number and text boxes may hold, against what each engine stores.
#include <gtest/gtest.h>

#include "core/column_width.h"
#include "core/database.h"
#include "core/text_routines.h"
#include "policies/logic/disk_quota_settings.h"
#include "policies/logic/misc_settings.h"
#include "policies/logic/ratio_settings.h"
#include "tests/support/scratch.h"

namespace kestrix::policies {
namespace {

class NumberLimitsTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
        exec(
            "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
            "('bob', '/srv/ftp/bob', 1, 1)");
    }
    void exec(const std::string& sql) { ASSERT_TRUE(db_.execute(sql)) << db_.lastError(); }
    std::string value(const std::string& column) {
        auto rows = db_.query("SELECT " + column + " FROM users WHERE username='bob'");
        EXPECT_TRUE(rows && !rows->eof()) << db_.lastError();
        return rows && !rows->eof() ? rows->text(column) : std::string();
    }
    static MiscSettings misc() {
        MiscSettings s;
        s.maxLogins = true;
        s.allowOnly = s.maxUsers = "1";
        s.maxSpeed = s.idleTimeout = s.sessionTimeout = "0";
        return s;
    }
    static std::string refusal(const MiscSettings& s) {
        const auto r = checkMiscSettings(s);
        return r ? r->message.text : std::string();
    }

    std::unique_ptr<test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(NumberLimitsTest, AccountLimitsRefuseWhatTheServerCannotUseAndStoreTheirBounds) {
    struct Case {
        std::string MiscSettings::*box;
        const char* tooSmall;
        const char* tooLarge;
        const char* largest;
        const char* column;
        const char* message;
    };
    const Case cases[] = {
        {&MiscSettings::idleTimeout, "-5", "100000000", "99999999", "timeout",
         "The value in the idle timeout field must be a whole number from 0 to 99999999."},
        {&MiscSettings::sessionTimeout, "-5", "100000000", "99999999", "session_timeout",
         "The value in the session timeout field must be a whole number from 0 to 99999999."},
        {&MiscSettings::allowOnly, "0", "1000", "999", "max_logins_per_ip",
         "The value in the allow only field must be a whole number from 1 to 999."},
        {&MiscSettings::maxUsers, "-2", "10000", "9999", "max_concurrent",
         "The value in the maximum users field must be a whole number from 0 to 9999."},
        {&MiscSettings::maxSpeed, nullptr, "2147483648", "2147483647", "speed_limit_value",
         "The value in the maximum speed field must be a number from 0 to 2147483647 KBps."},
    };
    for (const Case& c : cases) {
        MiscSettings s = misc();
        if (c.tooSmall) {
            s.*c.box = c.tooSmall;
            EXPECT_EQ(refusal(s), c.message) << c.column;
        }
        if (c.tooLarge) {
            s.*c.box = c.tooLarge;
            EXPECT_EQ(refusal(s), c.message) << c.column;
        }
        s.*c.box = c.largest;
        EXPECT_EQ(refusal(s), "") << c.column;
        exec(miscUpdate(s, "bob"));
        EXPECT_EQ(leadingNumber(value(c.column)), leadingNumber(c.largest)) << c.column;
    }
    // Empty boxes still mean "none"; a blank "allow only" keeps its own message.
    MiscSettings none = misc();
    none.idleTimeout = none.sessionTimeout = none.maxUsers = "";
    EXPECT_EQ(refusal(none), "");
    none.allowOnly = " ";
    EXPECT_EQ(refusal(none),
              "To allow only certain number of logins per \r\nIP address, you must specify that "
              "number.");
    // "Allow only" is not read while the other option is chosen.
    none.maxLogins = false;
    none.allowOnly = "0";
    EXPECT_EQ(refusal(none), "");
}

TEST_P(NumberLimitsTest, QuotaAndCreditStopWhereBytesAreStillExact) {
    EXPECT_EQ(checkQuota(true, "99999999999999", QuotaUnit::Mb)->text,
              "The value in the Maximum Quota field must be a number from 0 to 8589934592 Mb.");
    EXPECT_EQ(checkQuota(true, "8796093022209", QuotaUnit::Kb)->text,
              "The value in the Maximum Quota field must be a number from 0 to 8796093022208 Kb.");
    EXPECT_FALSE(checkQuota(false, "99999999999999", QuotaUnit::Mb));  // off: not written
    ASSERT_FALSE(checkQuota(true, "8589934592", QuotaUnit::Mb));
    StoredQuota stored{"1", "0", "0"};
    exec(quotaUpdate("bob", true, "8589934592", QuotaUnit::Mb, stored));
    EXPECT_EQ(leadingNumber(value("quota_max")), 9007199254740992.0);

    RatioForm form;
    form.enabled = true;
    selectKind(form, RatioKind::FilesOverall);
    form.credit = "2147483647";
    form.upload = "0";
    EXPECT_EQ(checkRatios(form)->text,
              "The value in the Uploads field must be a whole number from 1 to 65535.");
    form.upload = "1";
    form.download = "65536";
    EXPECT_EQ(checkRatios(form)->text,
              "The value in the Downloads field must be a whole number from 1 to 65535.");
    form.download = "65535";
    EXPECT_FALSE(checkRatios(form));
    form.credit = "1.5";
    EXPECT_EQ(checkRatios(form)->text,
              "The value in the Credit field must be a whole number from 0 to 2147483647 files.");
    selectKind(form, RatioKind::BytesOverall);
    form.credit = "8589934592.5";
    EXPECT_EQ(checkRatios(form)->text,
              "The value in the Credit field must be a number from 0 to 8589934592 Mb.");
    form.credit = "8589934592";
    ASSERT_FALSE(checkRatios(form));
    exec(ratioUpdate(form, "bob"));
    EXPECT_EQ(leadingNumber(value("ratio_current_credit")), 9007199254740992.0);
    EXPECT_EQ(value("ratio_down"), "65535");
}

// Widths come from the open database: the notes column is 256 characters on
// the server and of any length in the file.
TEST_P(NumberLimitsTest, TextWidthsAreReadFromTheOpenDatabase) {
    const bool server = GetParam() == Engine::PostgreSQL;
    EXPECT_EQ(columnWidth(db_, "users", "username"), std::optional<std::size_t>(50));
    EXPECT_EQ(columnWidth(db_, "USERS", "expires"), std::optional<std::size_t>(50));
    EXPECT_EQ(columnWidth(db_, "blocked_ips", "ip"), std::optional<std::size_t>(15));
    EXPECT_EQ(columnWidth(db_, "users", "comments"),
              server ? std::optional<std::size_t>(256) : std::nullopt);
    EXPECT_EQ(columnWidth(db_, "users", "no_such_column"), std::nullopt);

    // An altered column is read as it is now.
    exec(server ? "ALTER TABLE users ALTER COLUMN speed_limit_value TYPE VARCHAR(4)"
                : "CREATE TABLE narrow (speed_limit_value VARCHAR (4))");
    const std::string table = server ? "users" : "narrow";
    EXPECT_EQ(columnWidth(db_, table, "speed_limit_value"), std::optional<std::size_t>(4));

    const std::string notes(300, 'n');
    const std::string name = "\u00e9" + std::string(49, 'a');  // 50 characters, 51 bytes
    const auto tooWide = tooWideText(db_, {{"Username", "users", "username", name},
                                           {"Notes", "users", "comments", notes},
                                           {"maximum speed", table, "speed_limit_value", "12345"}});
    ASSERT_TRUE(tooWide);
    EXPECT_EQ(*tooWide, server ? "The Notes field holds 300 characters, but the database can "
                                 "store only 256 there.\r\nPlease shorten it."
                               : "The maximum speed field holds 5 characters, but the database "
                                 "can store only 4 there.\r\nPlease shorten it.");
    EXPECT_FALSE(tooWideText(db_, {{"Username", "users", "username", name}}));
    exec("UPDATE users SET username='" + name + "' WHERE username='bob'");
}

INSTANTIATE_TEST_SUITE_P(Engines, NumberLimitsTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix::policies

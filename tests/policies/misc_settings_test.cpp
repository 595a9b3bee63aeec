#include <gtest/gtest.h>

#include <clocale>

#include "core/database.h"
#include "core/settings.h"
#include "core/short_date.h"
#include "policies/logic/misc_settings.h"
#include "policies/logic/month_calendar.h"
#include "tests/support/scratch.h"

namespace kestrix::policies {
namespace {

using namespace std::chrono;

class MiscSettingsTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        std::setlocale(LC_TIME, "C");
        scratch_ = test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
    }
    void exec(const std::string& sql) { ASSERT_TRUE(db_.execute(sql)) << db_.lastError(); }
    MiscSettings load(const std::string& user) {
        auto rows = db_.query(miscSelect(user));
        EXPECT_TRUE(rows && !rows->eof()) << db_.lastError();
        return rows && !rows->eof() ? loadMiscSettings(*rows) : MiscSettings{};
    }

    std::unique_ptr<test::ScratchDatabase> scratch_;
    Database db_;
};

// NULL columns, -1 for "no value", both options set, a short stored date;
// then what OK writes reads back as what was shown.
TEST_P(MiscSettingsTest, LoadsEncodingsAndWritesThemBack) {
    // As New User stores it: one login per address and one session allowed.
    exec(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('o''brien', '/srv/ftp', 1, 1)");
    MiscSettings fresh;
    fresh.maxLogins = true;
    fresh.allowOnly = fresh.maxUsers = "1";
    fresh.maxSpeed = fresh.idleTimeout = fresh.sessionTimeout = "0";  // NULL shows 0
    EXPECT_EQ(load("o'brien"), fresh);

    exec(
        "UPDATE users SET disable_user=1, hide_hidden_files=2, one_login_per_ip=1, "
        "max_logins_per_ip=5, speed_limit_value='10.50kb', timeout=-1, session_timeout=30, "
        "max_concurrent=-1, login_msg_file='/srv/msg.txt', Expires='0', "
        "DisableOn='12/31/2026' WHERE username='o''brien'");
    MiscSettings s = load("o'brien");
    EXPECT_TRUE(s.disableAccount && s.hideHidden && !s.relativePaths);
    EXPECT_TRUE(s.maxLogins);
    EXPECT_FALSE(s.oneLogin);  // selecting "Allow only" cleared the other option
    EXPECT_EQ(s.allowOnly, "5");
    EXPECT_EQ(s.maxSpeed, "10.5");
    EXPECT_EQ(s.idleTimeout, "");
    EXPECT_EQ(s.sessionTimeout, "30");
    EXPECT_EQ(s.maxUsers, "");
    EXPECT_FALSE(s.expires);
    EXPECT_EQ(s.expiryDate, "");
    EXPECT_TRUE(s.disableOn);
    EXPECT_EQ(s.disableDate, "12/31/2026");

    s.expires = true;
    s.expiryDate = "01/01/2027";
    s.idleTimeout = " 5 ";
    ASSERT_FALSE(checkMiscSettings(s));
    long long changed = 0;
    ASSERT_TRUE(db_.execute(miscUpdate(s, "o'brien"), &changed)) << db_.lastError();
    EXPECT_EQ(changed, 1);
    MiscSettings back = load("o'brien");
    s.idleTimeout = "5";
    s.expiryDate = "2027-01-01";  // dates are stored as YYYY-MM-DD
    s.disableDate = "2026-12-31";
    s.hideHidden = true;
    EXPECT_EQ(back, s);
}

INSTANTIATE_TEST_SUITE_P(Engines, MiscSettingsTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

MiscSettings valid() {
    MiscSettings s;
    s.maxLogins = true;
    s.allowOnly = "2";
    s.maxSpeed = "0";
    s.idleTimeout = "5";
    s.maxUsers = "2";
    return s;
}

TEST(MiscUpdateTest, BothFormsPieceByPiece) {
    MiscSettings s = valid();
    s.relativePaths = true;
    s.maxSpeed = "1'0";
    s.expires = true;
    s.expiryDate = "01/02/2027";
    s.disableDate = "ignored while unticked";
    EXPECT_EQ(miscUpdate(s, "o'brien"),
              "update users set disable_user=0, rel_path=1, hide_hidden_files=0, always_login=0, "
              "one_login_per_ip=0, max_logins_per_ip=2, speed_limit_value='1''0', timeout=5, "
              "session_timeout=-1, max_concurrent=2, expires='2027-01-02', disableon=''  WHERE "
              "username='o''brien'");
    s.loginMessageFile = "/srv/it's.txt";
    s.maxLogins = false;
    s.oneLogin = true;
    EXPECT_EQ(miscUpdate(s, "bob"),
              "update users set disable_user=0, rel_path=1, hide_hidden_files=0, always_login=0, "
              "one_login_per_ip=1, max_logins_per_ip=0, speed_limit_value='1''0', timeout=5, "
              "session_timeout=-1, max_concurrent=2,login_msg_file='/srv/it''s.txt', "
              "expires='2027-01-02', disableon=''  WHERE username='bob'");
}

TEST(MiscChecksTest, RefusalsComeInTheirOrder) {
    const auto refusal = [](MiscSettings s) {
        const auto r = checkMiscSettings(s);
        return r ? r->message.text : std::string("passes");
    };
    MiscSettings s = valid();
    EXPECT_EQ(refusal(s), "passes");

    // Lengths first, in the table's order: the first offending field wins.
    // A number box's extra digits are a value out of its range, said so.
    s.maxUsers = "12345";
    s.idleTimeout = "123456789";
    EXPECT_EQ(refusal(s),
              "The value in the idle timeout field must be a whole number from 0 to 99999999.");
    s.idleTimeout = "5";
    EXPECT_EQ(checkMiscSettings(s)->focus, MiscField::MaxUsers);

    // Within the limits, what is not a number never reaches the statement.
    s = valid();
    for (const char* pasted : {"0--", "1/2", "1.2", "5;"}) {
        s.idleTimeout = pasted;
        const auto r = checkMiscSettings(s);
        ASSERT_TRUE(r) << pasted;
        EXPECT_EQ(r->message.text, "The value in the idle timeout field must be a number.");
        EXPECT_EQ(r->focus, MiscField::IdleTimeout);
    }
    s = valid();
    s.maxSpeed = "1.2.3";
    EXPECT_EQ(refusal(s), "The value in the maximum speed field must be a number.");

    // "Allow only" left blank is refused before any date check.
    s = valid();
    s.allowOnly = "  ";
    s.expires = true;
    EXPECT_EQ(refusal(s),
              "To allow only certain number of logins per \r\nIP address, you must specify that "
              "number.");
    s = valid();
    s.loginMessageFile = "http://example.org/motd.txt";
    EXPECT_EQ(refusal(s),
              "The path specified is not valid.\r\nPlease check your path and try again.");
    s = valid();
    s.expires = true;
    EXPECT_EQ(refusal(s), "If expiration option is enabled you must select an expiration date.");
    s.expires = false;
    s.disableOn = true;
    EXPECT_EQ(refusal(s),
              "If disable on date option is enabled you must select a date to disable the "
              "account on.");
}

// Dates compare as calendar dates across a year end, in the machine's short
// form and in the ISO form that is always read.
TEST(MiscChecksTest, ExpiryMayNotComeBeforeTheDisableDate) {
    std::setlocale(LC_TIME, "C");
    const std::string tooEarly =
        "The account expiration date should be after the date it is to be disabled.";
    const auto order = [](const char* disableOn, const char* expires) {
        MiscSettings s = valid();
        s.disableOn = s.expires = true;
        s.disableDate = disableOn;
        s.expiryDate = expires;
        const auto r = checkMiscSettings(s);
        return r ? r->message.text : std::string("passes");
    };
    EXPECT_EQ(order("12/31/2026", "01/01/2027"), "passes");  // a text compare would refuse
    EXPECT_EQ(order("01/01/2027", "12/31/2026"), tooEarly);
    EXPECT_EQ(order("2026-12-31", "2027-01-01"), "passes");
    EXPECT_EQ(order("2027-01-01", "2026-12-31"), tooEarly);
    EXPECT_EQ(order("01/01/2027", "01/01/2027"), "passes");
    EXPECT_NE(order("01/01/2027", "not a date").find("does not hold a date"), std::string::npos);
    EXPECT_EQ(order("01/01/2027", "03/04/227"),
              "The year in the Expiration date field (227) must have four digits.\r\nPlease "
              "type the date again.");
    EXPECT_EQ(order("1/2/20271", "01/01/2027"),
              "The year in the Disable on date field (20271) must have four digits.\r\nPlease "
              "type the date again.");
}

// A date that has come is stored only after a question, since the next
// daily run acts on it; one unchanged since it was loaded asks nothing.
TEST(MiscChecksTest, ADateThatHasComeAsksFirst) {
    std::setlocale(LC_TIME, "C");
    const auto yesterday = year_month_day(sys_days(today()) - days(1));
    MiscSettings before = valid();
    MiscSettings after = before;
    after.expires = true;
    after.expiryDate = formatShortDate(year_month_day(sys_days(today()) + days(1)));
    EXPECT_FALSE(pastDateQuestion(before, after));
    after.expiryDate = formatShortDate(today());
    ASSERT_TRUE(pastDateQuestion(before, after));
    after.expiryDate = formatIsoDate(yesterday);
    const auto question = pastDateQuestion(before, after);
    ASSERT_TRUE(question);
    EXPECT_EQ(question->buttons, MessageButtons::YesNo);
    EXPECT_EQ(question->defaultButton, 2);  // No
    EXPECT_NE(question->text.find("deleted at the next daily run"), std::string::npos);
    before = after;
    before.expiryDate = formatShortDate(yesterday);  // the same day, stored earlier
    EXPECT_FALSE(pastDateQuestion(before, after));

    before = after = valid();
    after.disableOn = true;
    after.disableDate = formatIsoDate(yesterday);
    ASSERT_TRUE(pastDateQuestion(before, after));
    EXPECT_NE(pastDateQuestion(before, after)->text.find("disabled at the next daily run"),
              std::string::npos);
    after.disableAccount = true;  // disabled now: the date changes nothing
    EXPECT_FALSE(pastDateQuestion(before, after));
}

// Keep both in the dialog: another administrator changed the idle timeout
// and the speed; this dialog changed the speed too, the users and the
// expiry. The speed is asked for; the rest of both is kept.
TEST_P(MiscSettingsTest, KeepBothWritesThisDialogsChangesOverTheOthers) {
    test::ScopedRegistry registry;
    ASSERT_TRUE(writeConnectionString(scratch_->connectionString()));
    exec(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, timeout) "
        "VALUES ('bob', '/srv/ftp', 1, 1, 5)");
    const MiscSettings loaded = load("bob");
    exec("UPDATE users SET timeout=30, speed_limit_value='100' WHERE username='bob'");
    MiscSettings mine = loaded;
    mine.maxUsers = "7";
    mine.maxSpeed = "200";
    mine.expires = true;
    mine.expiryDate = "12/24/2031";
    std::vector<std::string> asked;
    const auto answer = [&asked](Answer a) {
        return [&asked, a](const Message& m) {
            asked.push_back(m.text);
            return a;
        };
    };
    std::string failure;
    ASSERT_EQ(keepBothMisc(loaded, mine, "bob", failure, answer(Answer::No)), MiscAccess::Done)
        << failure;
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("maximum speed: yours 200, theirs 100"), std::string::npos) << asked[0];
    EXPECT_EQ(asked[0].find("idle"), std::string::npos) << asked[0];
    MiscSettings stored = load("bob");
    EXPECT_EQ(stored.idleTimeout, "30");
    EXPECT_EQ(stored.maxSpeed, "100");
    EXPECT_EQ(stored.maxUsers, "7");
    EXPECT_EQ(stored.expiryDate, "2031-12-24");

    // Cancel writes nothing; Yes writes this dialog's value.
    asked.clear();
    const MiscSettings before = load("bob");
    exec("UPDATE users SET speed_limit_value='300' WHERE username='bob'");
    EXPECT_EQ(keepBothMisc(before, mine, "bob", failure, answer(Answer::Cancel)),
              MiscAccess::Changed);
    EXPECT_EQ(load("bob").maxSpeed, "300");
    EXPECT_EQ(keepBothMisc(before, mine, "bob", failure, answer(Answer::Yes)), MiscAccess::Done);
    EXPECT_EQ(load("bob").maxSpeed, "200");
}

// What the window writes under one locale is the same day for every other.
TEST_P(MiscSettingsTest, TheWindowsWriteIsTheSameDayUnderEveryLocale) {
    test::ScopedRegistry registry;
    ASSERT_TRUE(writeConnectionString(scratch_->connectionString()));
    exec(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('bob', '/srv/ftp', 1, 1)");
    const year_month_day day{year{2031}, month{10}, std::chrono::day{12}};
    for (const char* writer : {"de_DE.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "C"}) {
        ASSERT_TRUE(std::setlocale(LC_TIME, writer)) << writer << " is not installed";
        MiscSettings s = valid();
        s.expires = true;
        s.expiryDate = formatShortDate(day);
        ASSERT_FALSE(checkMiscSettings(s)) << writer;
        std::string failure;
        ASSERT_EQ(writeMiscSettings(s, "bob", failure), MiscAccess::Done) << failure;
        for (const char* reader : {"de_DE.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "C"}) {
            ASSERT_TRUE(std::setlocale(LC_TIME, reader));
            const MiscSettings back = load("bob");
            EXPECT_EQ(back.expiryDate, "2031-10-12") << writer << " -> " << reader;
            EXPECT_EQ(parseShortDate(back.expiryDate), day) << writer << " -> " << reader;
        }
    }
    std::setlocale(LC_TIME, "C");
}

TEST(MonthCalendarTest, GridMappingAndCalendarArithmetic) {
    const year_month_day feb2026{year{2026}, month{2}, day{1}};  // a Sunday
    EXPECT_EQ(firstWeekday(feb2026), 1);
    EXPECT_EQ(cellOf(feb2026).column, 0);
    EXPECT_EQ(cellOf(feb2026).row, 0);
    const year_month_day aug31{year{2026}, month{8}, day{31}};  // the month starts on a Saturday
    EXPECT_EQ(firstWeekday(aug31), 7);
    EXPECT_EQ(cellOf(aug31).column, 1);
    EXPECT_EQ(cellOf(aug31).row, 5);
    EXPECT_EQ(dayInCell(aug31, 6, 0), 1u);
    EXPECT_FALSE(dayInCell(aug31, 5, 0));  // before day 1
    EXPECT_FALSE(dayInCell(aug31, 2, 5));  // after the last day

    const year_month_day jan31{year{2027}, month{1}, day{31}};
    EXPECT_EQ(addMonths(jan31, 1), (year_month_day{year{2027}, month{2}, day{28}}));
    EXPECT_EQ(addMonths(year_month_day{year{2028}, month{1}, day{31}}, 1),
              (year_month_day{year{2028}, month{2}, day{29}}));
    EXPECT_EQ(addDays(jan31, 1), (year_month_day{year{2027}, month{2}, day{1}}));
    EXPECT_EQ(assembleDate(2027, 2, 31), (year_month_day{year{2027}, month{3}, day{3}}));
    EXPECT_EQ(assembleDate(2028, 2, 31), (year_month_day{year{2028}, month{3}, day{2}}));
    EXPECT_EQ(assembleDate(2027, 4, 31), (year_month_day{year{2027}, month{5}, day{1}}));
    EXPECT_EQ(assembleDate(2027, 2, 29), (year_month_day{year{2027}, month{3}, day{1}}));
    EXPECT_STREQ(kMonthItems[1], "Febuary");
}

}  // namespace
}  // namespace kestrix::policies

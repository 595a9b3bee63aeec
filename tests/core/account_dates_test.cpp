#include <gtest/gtest.h>

#include <clocale>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "core/account_dates.h"
#include "core/activity_log.h"
#include "core/database.h"
#include "core/settings.h"
#include "core/short_date.h"
#include "core/sql_literal.h"
#include "tests/support/older_schema.h"
#include "core/stored_dates.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

using namespace std::chrono;

class AccountDatesTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        std::setlocale(LC_TIME, "C");
        scratch_ = test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(writeConnectionString(scratch_->connectionString()));
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
    }
    void exec(const std::string& sql) { ASSERT_TRUE(db_.execute(sql)) << db_.lastError() << sql; }
    void addUser(const std::string& name, const std::string& expires,
                 const std::string& disableOn = "NULL", int disabled = 0) {
        exec(
            "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, Expires, "
            "DisableOn, disable_user) VALUES (" +
            sqlText(name) + ", '/srv/ftp', 1, 1, " + expires + ", " + disableOn + ", " +
            std::to_string(disabled) + ")");
    }
    void addTraces(const std::string& name) {
        const std::string n = sqlText(name);
        exec("INSERT INTO blocked_ips_by_user (username, ip) VALUES (" + n + ", '10.0.0.1')");
        exec("INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES (" +
             n + ", '/srv/ftp', 'RL', 1)");
        exec("INSERT INTO file_rights (username, filename, file_rights) VALUES (" + n +
             ", '/srv/ftp/a', 'RWMDA')");
        exec("INSERT INTO ratio_free_files (username, filename) VALUES (" + n + ", '/srv/ftp/a')");
    }
    std::string names(const std::string& sql) {
        std::string out;
        auto rows = db_.query(sql);
        EXPECT_TRUE(rows) << db_.lastError();
        for (; rows && !rows->eof(); rows->moveNext())
            out += rows->text("username") + " ";
        return out;
    }
    static std::string literal(year_month_day date) { return sqlText(formatShortDate(date)); }

    test::ScopedRegistry registry_;
    std::unique_ptr<test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(AccountDatesTest, DueUsersGoOrAreDisabledAndNothingElseIsTouched) {
    const year_month_day now = today();
    const year_month_day yesterday{sys_days{now} - days{1}};
    const year_month_day nextJanuary{now.year() + years{1}, January, day{15}};
    addUser("gone", literal(now));
    addTraces("gone");
    addUser("iso", sqlText(formatShortDate(yesterday, "%Y-%m-%d")));
    addUser("later", literal(nextJanuary));  // in January next year, not due in December
    addTraces("later");
    addUser("empty", "''");
    addUser("null", "NULL");
    addUser("odd", "'someday'");
    addUser("due", "NULL", literal(yesterday));
    addUser("reenabled", "NULL", "''", 0);

    std::string log;
    const int listener = programLog().attach([&](const std::string& line) { log += line; });
    EXPECT_EQ(applyAccountDates(), AccountDatesRun::Done);
    programLog().detach(listener);

    EXPECT_EQ(names("SELECT username FROM users ORDER BY username"),
              "due empty later null odd reenabled ");
    for (const char* table :
         {"blocked_ips_by_user", "dir_rights", "file_rights", "ratio_free_files"})
        EXPECT_EQ(names(std::string("SELECT username FROM ") + table), "later ") << table;
    EXPECT_EQ(names("SELECT username FROM users WHERE disable_user=1 AND DisableOn=''"), "due ");
    EXPECT_NE(log.find("User 'gone' is expired"), std::string::npos) << log;
    EXPECT_NE(log.find("User 'iso' is expired"), std::string::npos) << log;
    EXPECT_NE(log.find("User 'odd' has an expiry date that is not a date: someday"),
              std::string::npos)
        << log;

    // The administrator enables the disabled user again: the next run leaves it.
    exec("UPDATE users SET disable_user=0 WHERE username='due'");
    EXPECT_EQ(applyAccountDates(), AccountDatesRun::Done);
    EXPECT_EQ(names("SELECT username FROM users WHERE disable_user=1"), "");
}

// A statement refused half-way through a user undoes that user's deletion:
// a user left without its rules could still log in.
TEST_P(AccountDatesTest, AUserIsDeletedWholeOrNotAtAll) {
    addUser("gone", literal(today()));
    addTraces("gone");
    exec("DROP TABLE file_rights");
    EXPECT_EQ(applyAccountDates(), AccountDatesRun::TablesFailed);
    EXPECT_EQ(names("SELECT username FROM users"), "gone ");
    EXPECT_EQ(names("SELECT username FROM dir_rights"), "gone ");
    EXPECT_EQ(names("SELECT username FROM blocked_ips_by_user"), "gone ");
}

// Another administrator extends, clears and moves dates in a transaction of
// their own while the run works: the run has read the old dates as due, and
// its changes must find the stored dates no longer due. On SQLite the run
// also waits for that writer instead of failing with a locked file.
TEST_P(AccountDatesTest, DatesChangedWhileTheRunWorksAreKept) {
    const year_month_day yesterday{sys_days{today()} - days{1}};
    addUser("extended", literal(yesterday));
    addTraces("extended");
    addUser("cleared", literal(yesterday));
    addUser("moved", "NULL", literal(yesterday));
    addUser("gone", literal(yesterday));
    addTraces("gone");
    addUser("due", "NULL", literal(yesterday));
    // More than a transaction's share, so that several batches commit.
    ASSERT_TRUE(db_.begin());
    for (int i = 0; i < 1030; ++i)
        addUser("many" + std::to_string(i), sqlText(formatIsoDate(yesterday)));
    ASSERT_TRUE(db_.commit());

    Database other;
    ASSERT_TRUE(other.open(scratch_->connectionString())) << other.lastError();
    ASSERT_TRUE(GetParam() == Engine::SQLite ? other.execute("BEGIN IMMEDIATE") : other.begin())
        << other.lastError();
    ASSERT_TRUE(other.execute("UPDATE users SET Expires='2099-12-31' WHERE username='extended'"));
    ASSERT_TRUE(other.execute("UPDATE users SET Expires=NULL WHERE username='cleared'"));
    ASSERT_TRUE(other.execute("UPDATE users SET DisableOn='' WHERE username='moved'"));

    std::mutex mutex;
    std::condition_variable changed;
    bool read = false;
    std::string log;
    const int listener = programLog().attach([&](const std::string& line) {
        std::lock_guard lock(mutex);
        log += line;
        if (line.find("1035 users have a date that came") != std::string::npos) read = true;
        changed.notify_all();
    });
    std::optional<AccountDatesRun> outcome;
    std::thread run([&] {
        const AccountDatesRun result = applyAccountDates();
        std::lock_guard lock(mutex);
        outcome = result;
        changed.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        const bool seen = changed.wait_for(lock, std::chrono::seconds(60),
                                           [&] { return read || outcome.has_value(); });
        EXPECT_TRUE(seen && read) << log;
    }
    EXPECT_TRUE(other.commit()) << other.lastError();
    run.join();
    programLog().detach(listener);

    EXPECT_EQ(outcome, AccountDatesRun::Done) << log;
    EXPECT_EQ(names("SELECT username FROM users ORDER BY username"), "cleared due extended moved ");
    EXPECT_EQ(names("SELECT username FROM users WHERE disable_user=1"), "due ");
    EXPECT_EQ(names("SELECT username FROM dir_rights"), "extended ");
    EXPECT_NE(log.find("User 'extended' was changed since its date came; left as it is"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("User 'extended' is expired"), std::string::npos) << log;
    EXPECT_NE(log.find("User 'many1029' is expired"), std::string::npos) << log;
}

// A name stored twice goes only when both rows are due on the same date: the
// other account keeps its rules.
TEST_P(AccountDatesTest, ANameStoredTwiceGoesOnlyWhenBothRowsAreDue) {
    // As a database made before names were unique may hold it.
    kestrix::test::dropOwnerKeys(db_);
    exec("DROP INDEX users_username_idx");
    addUser("twin", literal(today()));
    addUser("TWIN", "'2099-01-01'");
    addTraces("twin");
    EXPECT_EQ(applyAccountDates(), AccountDatesRun::Done);
    EXPECT_EQ(names("SELECT username FROM users ORDER BY Expires"), "twin TWIN ");
    EXPECT_EQ(names("SELECT username FROM dir_rights"), "twin ");
}

// The short dates earlier versions stored become YYYY-MM-DD once; a date
// that could mean two days, or none, is listed and left as it is.
TEST_P(AccountDatesTest, TheUpgradeStoresShortDatesAsIsoAndNeverGuesses) {
    addUser("german", "'24.12.2026'", "'12/24/2026'");
    addUser("unclear", "'12/10/2026'");
    addUser("iso", "'2026-01-05'", "''");
    addUser("typo", "'soon'");
    addUser("slip", "'03/04/227'");
    const DateUpgrade upgrade = upgradeStoredDates(db_);
    ASSERT_EQ(upgrade.failure, "");
    EXPECT_EQ(upgrade.rewritten, 2u);
    EXPECT_EQ(upgrade.alreadyIso, 1u);
    std::string left;
    for (const UnclearDate& date : upgrade.left)
        left += date.user + " " + date.column + " " + std::to_string(date.readings.size()) + "; ";
    EXPECT_EQ(left, "unclear Expires 2; typo Expires 0; slip Expires 0; ");
    std::string stored;
    auto rows = db_.query("SELECT username, Expires, DisableOn FROM users ORDER BY username");
    ASSERT_TRUE(rows) << db_.lastError();
    for (; !rows->eof(); rows->moveNext())
        stored += rows->text("username") + "=" + rows->text("Expires") + "," +
                  rows->text("DisableOn") + " ";
    EXPECT_EQ(stored,
              "german=2026-12-24,2026-12-24 iso=2026-01-05, slip=03/04/227, typo=soon, "
              "unclear=12/10/2026, ");
}

// A date the window stored under one locale is the same day for the daily
// run under any other: due is deleted, not yet due is kept, even where the
// day and the month read the other way round would swap the two.
TEST_P(AccountDatesTest, ADateIsTheSameDayForTheDailyRunUnderEveryLocale) {
    const auto now = today();
    const auto swapped = [](year_month_day d) {
        return year_month_day{d.year(), month{static_cast<unsigned>(d.day())},
                              day{static_cast<unsigned>(d.month())}};
    };
    // A day already due whose swap is not, and one not due whose swap is.
    std::optional<year_month_day> due;
    std::optional<year_month_day> notDue;
    for (int y = int(now.year()) - 1; y <= int(now.year()) + 1; ++y)
        for (unsigned m = 1; m <= 12; ++m)
            for (unsigned d = 1; d <= 12; ++d) {
                const year_month_day date{year{y}, month{m}, day{d}};
                if (date <= now && swapped(date) > now) due = date;
                if (date > now && swapped(date) <= now && !notDue) notDue = date;
            }
    ASSERT_TRUE(due && notDue);
    const char* locales[] = {"de_DE.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "C"};
    for (const char* reader : locales) {
        for (const char* writer : locales) {
            if (std::string(writer) == reader) continue;
            ASSERT_TRUE(std::setlocale(LC_TIME, writer)) << writer << " is not installed";
            const std::string w(writer);
            addUser("due " + w, sqlText(storedDateText(formatShortDate(*due))));
            addUser("kept " + w, sqlText(storedDateText(formatShortDate(*notDue))));
        }
        ASSERT_TRUE(std::setlocale(LC_TIME, reader));
        EXPECT_EQ(applyAccountDates(), AccountDatesRun::Done);
        // Counted here: LIKE is refused on the names' case-blind collation.
        const std::string left = names("SELECT username FROM users");
        const auto count = [&left](const std::string& word) {
            std::size_t n = 0;
            for (auto at = left.find(word); at != std::string::npos; at = left.find(word, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(count("due "), 0u) << reader << ": " << left;
        EXPECT_EQ(count("kept "), 3u) << reader << ": " << left;
        exec("DELETE FROM users");
    }
    std::setlocale(LC_TIME, "C");
}

INSTANTIATE_TEST_SUITE_P(Engines, AccountDatesTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

// The run waits a few seconds for a program that writes the SQLite file;
// one that keeps writing is named in plain words, and nothing is half done.
class BusyFileTest : public AccountDatesTest {};

TEST_P(BusyFileTest, AFileKeptBusyIsReportedInPlainWords) {
    addUser("gone", literal(today()));
    addTraces("gone");
    Database other;
    ASSERT_TRUE(other.open(scratch_->connectionString())) << other.lastError();
    ASSERT_TRUE(other.execute("BEGIN IMMEDIATE")) << other.lastError();
    std::string log;
    const int listener = programLog().attach([&](const std::string& line) { log += line; });
    EXPECT_EQ(applyAccountDates(), AccountDatesRun::Busy);
    programLog().detach(listener);
    EXPECT_NE(log.find(kDatabaseBusyMessage), std::string::npos) << log;
    ASSERT_TRUE(other.rollback());
    EXPECT_EQ(names("SELECT username FROM users"), "gone ");
    EXPECT_EQ(names("SELECT username FROM dir_rights"), "gone ");
}

INSTANTIATE_TEST_SUITE_P(File, BusyFileTest, ::testing::Values(Engine::SQLite),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix

#include <gtest/gtest.h>
#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/short_date.h"

namespace kestrix {
namespace {

using namespace std::chrono;

TEST(ShortDateTest, WidensTwoDigitYears) {
    EXPECT_EQ(widenYear("%m/%d/%y"), "%m/%d/%Y");
    EXPECT_EQ(widenYear("%d.%m.%Y"), "%d.%m.%Y");
    EXPECT_EQ(widenYear("%D"), "%m/%d/%Y");
    EXPECT_EQ(widenYear("%F"), "%Y-%m-%d");
    EXPECT_EQ(widenYear("100%% %y"), "100%% %Y");
}

TEST(ShortDateTest, CLocaleFormIsMonthDayFourDigitYear) {
    std::setlocale(LC_TIME, "C");
    EXPECT_EQ(shortDateFormat(), "%m/%d/%Y");
    EXPECT_EQ(formatShortDate(year_month_day{year{2026}, month{1}, day{5}}), "01/05/2026");
}

TEST(ShortDateTest, EveryDayFrom1999To2101RoundTripsInEachForm) {
    std::setlocale(LC_TIME, "C");
    for (const char* pattern : {"%m/%d/%Y", "%d.%m.%Y", "%Y-%m-%d"}) {
        int count = 0;
        for (sys_days d = sys_days{year{1999} / 1 / 1}; d <= sys_days{year{2101} / 12 / 31};
             d += days{1}) {
            const year_month_day date{d};
            const std::string text = formatShortDate(date, pattern);
            const auto back = parseShortDate(text, pattern);
            ASSERT_TRUE(back) << pattern << " " << text;
            ASSERT_EQ(*back, date) << pattern << " " << text;
            ++count;
        }
        EXPECT_EQ(count, 37620);  // 103 years, 25 of them leap years
    }
}

TEST(ShortDateTest, IsoFormIsAlwaysAccepted) {
    EXPECT_EQ(parseShortDate("2027-01-15", "%d.%m.%Y"),
              (year_month_day{year{2027}, month{1}, day{15}}));
    EXPECT_EQ(parseShortDate("2027-01-15", "%m/%d/%Y"),
              (year_month_day{year{2027}, month{1}, day{15}}));
}

TEST(ShortDateTest, TextsThatAreNotDatesGiveNoValue) {
    for (const char* text : {"", "   ", "abc", "02/30/2024", "13/01/2024", "00/10/2024",
                             "01/15/2024x", "01/15", "2024-02-30", "2023-13-01"}) {
        EXPECT_FALSE(parseShortDate(text, "%m/%d/%Y")) << '"' << text << '"';
    }
    EXPECT_TRUE(parseShortDate("02/29/2024", "%m/%d/%Y"));
    EXPECT_FALSE(parseShortDate("02/29/2023", "%m/%d/%Y"));
}

TEST(ShortDateTest, DatesCompareAsCalendarDatesNotAsTexts) {
    const auto december = parseShortDate("12/06/2026", "%m/%d/%Y");
    const auto january = parseShortDate("01/15/2027", "%m/%d/%Y");
    ASSERT_TRUE(december && january);
    EXPECT_GT(sys_days{*january}, sys_days{*december});
    EXPECT_LT(std::string("01/15/2027"), std::string("12/06/2026"));  // why texts won't do
}

// The C locale's own short form writes two-digit years; they are read with
// the POSIX pivot, never as the first century, in every form.
TEST(ShortDateTest, TwoDigitYearsTakeThePosixPivot) {
    EXPECT_EQ(narrowYear("%d.%m.%Y"), "%d.%m.%y");
    const auto ymd = [](int y, unsigned m, unsigned d) {
        return year_month_day{year{y}, month{m}, day{d}};
    };
    EXPECT_EQ(parseShortDate("12/31/26", "%m/%d/%Y"), ymd(2026, 12, 31));
    EXPECT_EQ(parseShortDate("12/31/26", "%m/%d/%y"), ymd(2026, 12, 31));
    EXPECT_EQ(parseShortDate("01/01/68", "%m/%d/%Y"), ymd(2068, 1, 1));
    EXPECT_EQ(parseShortDate("01/01/69", "%m/%d/%Y"), ymd(1969, 1, 1));
    EXPECT_EQ(parseShortDate("02/03/99", "%m/%d/%Y"), ymd(1999, 2, 3));
    EXPECT_EQ(parseShortDate("31.12.00", "%d.%m.%Y"), ymd(2000, 12, 31));
    // Four digits stay as written, also where the year comes first.
    EXPECT_EQ(parseShortDate("12/31/2026", "%m/%d/%y"), ymd(2026, 12, 31));
    EXPECT_EQ(parseShortDate("2026/12/31", "%Y/%m/%d"), ymd(2026, 12, 31));
    EXPECT_EQ(parseShortDate("26/12/31", "%Y/%m/%d"), ymd(2026, 12, 31));
    // A year of the first century written out is not a date anyone meant.
    for (const char* text : {"12/31/0026", "12/31/026", "0026-12-31", "26-12-31"})
        EXPECT_FALSE(parseShortDate(text, "%m/%d/%Y")) << text;
    EXPECT_FALSE(parseShortDate("02/29/23", "%m/%d/%Y"));
    EXPECT_TRUE(parseShortDate("02/29/24", "%m/%d/%Y"));
}

// Every program takes the locale as the environment names it: LC_ALL over
// LC_TIME over LANG, as the C library orders them; numbers stay C.
TEST(ShortDateTest, TheLocaleComesFromTheEnvironment) {
    const char* saved[] = {"LC_ALL", "LC_TIME", "LANG"};
    std::vector<std::optional<std::string>> before;
    for (const char* name : saved)
        before.push_back(std::getenv(name) ? std::optional<std::string>(std::getenv(name))
                                           : std::nullopt);
    ::unsetenv("LC_ALL");
    ::setenv("LANG", "en_GB.UTF-8", 1);
    ::setenv("LC_TIME", "de_DE.UTF-8", 1);
    takeLocaleFromEnvironment();
    EXPECT_EQ(shortDateFormat(), "%d.%m.%Y");
    EXPECT_EQ(parseShortDate("08.12.2026"), (year_month_day{year{2026}, month{12}, day{8}}));
    EXPECT_EQ(std::string(std::localeconv()->decimal_point), ".");
    ::unsetenv("LC_TIME");
    takeLocaleFromEnvironment();
    EXPECT_EQ(shortDateFormat(), "%d/%m/%Y");
    EXPECT_EQ(parseShortDate("08/12/2026"), (year_month_day{year{2026}, month{12}, day{8}}));
    EXPECT_EQ(formatIsoDate(year_month_day{year{2026}, month{12}, day{8}}), "2026-12-08");
    ::setenv("LC_ALL", "C", 1);
    takeLocaleFromEnvironment();
    EXPECT_EQ(parseShortDate("08/12/2026"), (year_month_day{year{2026}, month{8}, day{12}}));
    for (size_t i = 0; i < std::size(saved); ++i) {
        if (before[i])
            ::setenv(saved[i], before[i]->c_str(), 1);
        else
            ::unsetenv(saved[i]);
    }
    std::setlocale(LC_ALL, "C");
}

// A year is written with two or four digits: anything else is a slip that
// would otherwise put the date in the third century (and delete the
// account at the next run) or far in the future.
TEST(ShortDateTest, AYearOfOneThreeOrFiveDigitsIsNoDate) {
    std::setlocale(LC_TIME, "C");
    for (const char* text : {"03/04/227", "03/04/20271", "03/04/7", "227-03-04", "20271-03-04"}) {
        EXPECT_FALSE(parseShortDate(text)) << text;
        EXPECT_TRUE(writtenYearProblem(text)) << text;
    }
    EXPECT_EQ(writtenYearProblem("03/04/227"), "227");
    EXPECT_EQ(writtenYearProblem("227-03-04"), "227");
    for (const char* text : {"03/04/27", "03/04/2027", "2027-03-04", "not a date", ""})
        EXPECT_FALSE(writtenYearProblem(text)) << text;
    EXPECT_EQ(parseShortDate("03/04/27"), (year_month_day{year{2027}, month{3}, day{4}}));
}

// The stored form reads as the same day under every locale, and each
// locale's own short form, written there, is stored as that day.
TEST(ShortDateTest, EveryLocaleStoresAndReadsTheSameDay) {
    const year_month_day date{year{2026}, month{10}, day{12}};
    for (const char* writer : {"de_DE.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "C"}) {
        ASSERT_TRUE(std::setlocale(LC_TIME, writer)) << writer << " is not installed";
        const std::string typed = formatShortDate(date);
        const std::string stored = storedDateText(typed);
        EXPECT_EQ(stored, "2026-10-12") << writer << " typed " << typed;
        for (const char* reader : {"de_DE.UTF-8", "en_US.UTF-8", "en_GB.UTF-8", "C"}) {
            ASSERT_TRUE(std::setlocale(LC_TIME, reader));
            EXPECT_EQ(parseShortDate(stored), date) << writer << " -> " << reader;
        }
    }
    ASSERT_TRUE(std::setlocale(LC_TIME, "de_DE.UTF-8"));
    EXPECT_EQ(shownDateText("2026-10-12"), "12.10.2026");
    EXPECT_EQ(shownDateText("no date"), "no date");
    std::setlocale(LC_TIME, "C");
}

TEST(ShortDateTest, AShortDateReadTwoWaysIsToldApart) {
    std::setlocale(LC_TIME, "C");
    EXPECT_EQ(possibleReadings("12/10/2026").size(), 2u);
    EXPECT_EQ(possibleReadings("10.12.2026").size(), 2u);
    EXPECT_EQ(possibleReadings("24.12.2026"),
              (std::vector<year_month_day>{{year{2026}, month{12}, day{24}}}));
    EXPECT_EQ(possibleReadings("12/24/2026"),
              (std::vector<year_month_day>{{year{2026}, month{12}, day{24}}}));
    EXPECT_EQ(possibleReadings("05/05/2026").size(), 1u);
    EXPECT_EQ(possibleReadings("2026-10-12").size(), 1u);
    EXPECT_TRUE(possibleReadings("31/31/2026").empty());
    EXPECT_TRUE(possibleReadings("soon").empty());
}

TEST(ShortDateTest, ShortTimeIsHoursAndMinutes) {
    const std::string time = formatShortTime(system_clock::now());
    ASSERT_EQ(time.size(), 5u);
    EXPECT_EQ(time[2], ':');
}

}  // namespace
}  // namespace kestrix

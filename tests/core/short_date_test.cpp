#include <gtest/gtest.h>
#include <clocale>

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

TEST(ShortDateTest, ShortTimeIsHoursAndMinutes) {
    const std::string time = formatShortTime(system_clock::now());
    ASSERT_EQ(time.size(), 5u);
    EXPECT_EQ(time[2], ':');
}

}  // namespace
}  // namespace kestrix

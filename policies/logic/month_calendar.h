#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>

namespace kestrix::policies {

using Date = std::chrono::year_month_day;

// The month box's items, spelled as the program has always shown them;
// item i stands for month i + 1.
inline constexpr std::array<const char*, 12> kMonthItems = {
    "January", "Febuary", "March",     "April",   "May",      "June",
    "July",    "August",  "September", "October", "November", "December"};

inline constexpr int kGridColumns = 7;
inline constexpr int kGridRows = 6;

// The weekday of the first of the date's month, Sunday = 1 to Saturday = 7.
int firstWeekday(Date date);
unsigned daysInMonth(Date date);

// The month grid: day d sits in cell d + firstWeekday - 2, column 0 being
// Sunday, seven cells a row.
struct GridCell {
    int column = 0;
    int row = 0;
};
GridCell cellOf(Date date);
// The day shown in a cell of the date's month; none before day 1 or after
// the last day.
std::optional<unsigned> dayInCell(Date shownMonth, int column, int row);

Date addDays(Date date, int days);
// Keeps the day, clamped to the last day of the target month.
Date addMonths(Date date, int months);
// Year, month and day put together by calendar arithmetic: a day beyond the
// month's end carries into the next month (31 April is 1 May).
Date assembleDate(int year, unsigned month, unsigned day);

// The caption over the grid: the full month name and the four-digit year,
// in the machine's language.
std::string monthCaption(Date date);

}  // namespace kestrix::policies

#include "policies/logic/month_calendar.h"

#include <algorithm>
#include <ctime>

namespace kestrix::policies {

namespace {

using namespace std::chrono;

Date firstOf(Date date) {
    return date.year() / date.month() / day{1};
}

}  // namespace

int firstWeekday(Date date) {
    return static_cast<int>(weekday{sys_days{firstOf(date)}}.c_encoding()) + 1;
}

unsigned daysInMonth(Date date) {
    return static_cast<unsigned>(year_month_day_last{date.year() / date.month() / last}.day());
}

GridCell cellOf(Date date) {
    const int index = static_cast<int>(static_cast<unsigned>(date.day())) + firstWeekday(date) - 2;
    return {index % kGridColumns, index / kGridColumns};
}

std::optional<unsigned> dayInCell(Date shownMonth, int column, int row) {
    if (column < 0 || column >= kGridColumns || row < 0 || row >= kGridRows) return std::nullopt;
    const int d = column + 1 + row * kGridColumns - (firstWeekday(shownMonth) - 1);
    if (d < 1 || static_cast<unsigned>(d) > daysInMonth(shownMonth)) return std::nullopt;
    return static_cast<unsigned>(d);
}

Date addDays(Date date, int days) {
    return Date{sys_days{date} + std::chrono::days{days}};
}

Date addMonths(Date date, int months) {
    const year_month target = year_month{date.year(), date.month()} + std::chrono::months{months};
    const unsigned lastDay =
        static_cast<unsigned>(year_month_day_last{target.year() / target.month() / last}.day());
    const unsigned d = std::min(static_cast<unsigned>(date.day()), lastDay);
    return target.year() / target.month() / day{d};
}

Date assembleDate(int y, unsigned m, unsigned d) {
    const Date first = year{y} / month{m} / day{1};
    return Date{sys_days{first} + std::chrono::days{static_cast<int>(d) - 1}};
}

std::string monthCaption(Date date) {
    std::tm tm{};
    tm.tm_year = static_cast<int>(date.year()) - 1900;
    tm.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
    tm.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%B %Y", &tm);
    return std::string(buffer, n);
}

}  // namespace kestrix::policies

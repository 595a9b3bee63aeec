#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// The machine's short date form: the C library's D_FMT of the current
// LC_TIME locale, with a two-digit year widened to four digits.
std::string shortDateFormat();

// Widens a strftime date pattern so that it always writes four-digit years.
std::string widenYear(std::string_view datePattern);

std::string formatShortDate(std::chrono::year_month_day date);
std::string formatShortDate(std::chrono::year_month_day date, std::string_view pattern);

// Accepts the short date form and ISO YYYY-MM-DD; anything that is not a
// real calendar date gives no value, so it is never acted on.
std::optional<std::chrono::year_month_day> parseShortDate(std::string_view text);
std::optional<std::chrono::year_month_day> parseShortDate(std::string_view text,
                                                          std::string_view pattern);

std::chrono::year_month_day localDate(std::chrono::system_clock::time_point when);
std::chrono::year_month_day today();

// Short time: hours and minutes, 24-hour clock.
std::string formatShortTime(std::chrono::system_clock::time_point when);

}  // namespace kestrix

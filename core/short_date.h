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
// The reverse: every four-digit year of a pattern read as a two-digit one.
std::string narrowYear(std::string_view datePattern);

std::string formatShortDate(std::chrono::year_month_day date);
std::string formatShortDate(std::chrono::year_month_day date, std::string_view pattern);

// Accepts the short date form and ISO YYYY-MM-DD; anything that is not a
// real calendar date gives no value, so it is never acted on. A two-digit
// year takes the POSIX pivot (69-99 are 1969-1999, 00-68 are 2000-2068); a
// year below 100 written out is not taken.
std::optional<std::chrono::year_month_day> parseShortDate(std::string_view text);
std::optional<std::chrono::year_month_day> parseShortDate(std::string_view text,
                                                          std::string_view pattern);

// YYYY-MM-DD, which every program reads alike whatever its locale.
std::string formatIsoDate(std::chrono::year_month_day date);

// Every program takes its locale from the environment the same way, so that
// each reads a stored short date as the others do: LC_ALL, LC_TIME and LANG
// as the C library orders them, with numbers kept in the C form.
void takeLocaleFromEnvironment();

std::chrono::year_month_day localDate(std::chrono::system_clock::time_point when);
std::chrono::year_month_day today();

// Short time: hours and minutes, 24-hour clock; with the seconds when asked.
std::string formatShortTime(std::chrono::system_clock::time_point when, bool seconds = false);

}  // namespace kestrix

#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The one reading of an account date, for every program and the plug-in:
// the stored form YYYY-MM-DD first, whatever the locale, then the locale's
// short form (what earlier versions stored). Anything that is not a real
// calendar date gives no value, so it is never acted on; so does a year
// written with other than two or four digits. A two-digit year takes the
// POSIX pivot (69-99 are 1969-1999, 00-68 are 2000-2068).
std::optional<std::chrono::year_month_day> parseShortDate(std::string_view text);
std::optional<std::chrono::year_month_day> parseShortDate(std::string_view text,
                                                          std::string_view pattern);

// YYYY-MM-DD, which every program reads alike whatever its locale: the one
// form an account date is stored in.
std::string formatIsoDate(std::chrono::year_month_day date);

// A date as typed or as an earlier version stored it, in the stored form;
// a text that is not a date is returned as it is, for a check to refuse.
std::string storedDateText(std::string_view text);
// A stored date as the person reads it: the locale's short form; a text
// that is not a date is shown as it is.
std::string shownDateText(std::string_view stored);

// The year of a date text that was written with 1, 3 or more than 4
// digits; none when the year is fine or cannot be told apart.
std::optional<std::string> writtenYearProblem(std::string_view text);

// Every day a short date could mean, whichever locale wrote it: 12/10/2026
// is 12 October or 10 December; 24.12.2026 only one. Empty when the text
// is no date at all.
std::vector<std::chrono::year_month_day> possibleReadings(std::string_view text);

// Every program takes its locale from the environment the same way, so that
// each reads a stored short date as the others do: LC_ALL, LC_TIME and LANG
// as the C library orders them, with numbers kept in the C form.
void takeLocaleFromEnvironment();

std::chrono::year_month_day localDate(std::chrono::system_clock::time_point when);
std::chrono::year_month_day today();

// Short time: hours and minutes, 24-hour clock; with the seconds when asked.
std::string formatShortTime(std::chrono::system_clock::time_point when, bool seconds = false);

}  // namespace kestrix

#include "core/short_date.h"

#include <langinfo.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstring>
#include <vector>

namespace kestrix {

namespace {

std::tm toTm(std::chrono::year_month_day date) {
    std::tm tm{};
    tm.tm_year = static_cast<int>(date.year()) - 1900;
    tm.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
    tm.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
    tm.tm_hour = 12;
    return tm;
}

std::string strftimeText(const std::string& pattern, const std::tm& tm) {
    char buffer[128];
    const size_t n = std::strftime(buffer, sizeof buffer, pattern.c_str(), &tm);
    return std::string(buffer, n);
}

bool onlyBlanksFrom(const char* p) {
    while (*p != '\0') {
        if (!std::isspace(static_cast<unsigned char>(*p))) return false;
        ++p;
    }
    return true;
}

// The runs of digits of a text, in order.
std::vector<std::string_view> digitGroups(std::string_view text) {
    std::vector<std::string_view> groups;
    std::size_t at = 0;
    while (at < text.size()) {
        if (!std::isdigit(static_cast<unsigned char>(text[at]))) {
            ++at;
            continue;
        }
        const std::size_t start = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
            ++at;
        groups.push_back(text.substr(start, at - start));
    }
    return groups;
}

// Where the year stands among the numbers of a pattern made of day, month
// and year numbers alone; none for a pattern with a month name or the like.
std::optional<std::size_t> yearPosition(std::string_view pattern) {
    std::optional<std::size_t> year;
    std::size_t numbers = 0;
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        const char conversion = pattern[++i];
        if (conversion == 'Y' || conversion == 'y') year = numbers;
        if (conversion == 'Y' || conversion == 'y' || conversion == 'd' || conversion == 'e' ||
            conversion == 'm')
            ++numbers;
        else
            return std::nullopt;
    }
    if (numbers != 3) return std::nullopt;
    return year;
}

// The year as written in a text read with the pattern; empty when the
// pattern cannot tell.
std::string_view writtenYear(std::string_view text, std::string_view pattern) {
    const auto position = yearPosition(pattern);
    const auto groups = digitGroups(text);
    if (!position || groups.size() != 3) return {};
    return groups[*position];
}

std::optional<std::chrono::year_month_day> parseWith(const std::string& text,
                                                     const std::string& pattern,
                                                     std::size_t yearDigits) {
    std::tm tm{};
    tm.tm_mday = 0;
    const char* end = strptime(text.c_str(), pattern.c_str(), &tm);
    if (end == nullptr || !onlyBlanksFrom(end)) return std::nullopt;
    // A year is written with two digits or four: 227 or 20271 is a typing
    // slip, not a date of the third century or of the far future.
    const std::string_view year = writtenYear(text, pattern);
    if (!year.empty() && year.size() != yearDigits) return std::nullopt;
    // A year of the first centuries is a two-digit year read as written;
    // no account date lies there, so it is not taken as one.
    if (tm.tm_year + 1900 < 100) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{tm.tm_year + 1900},
                                           std::chrono::month{static_cast<unsigned>(tm.tm_mon + 1)},
                                           std::chrono::day{static_cast<unsigned>(tm.tm_mday)}};
    if (!date.ok()) return std::nullopt;
    return date;
}

// YYYY-MM-DD exactly as stored: four digits, a hyphen, then month and day.
bool looksIso(std::string_view text) {
    const auto groups = digitGroups(text);
    return groups.size() == 3 && groups[0].size() == 4 && text.substr(0, 4) == groups[0] &&
           text.size() > 4 && text[4] == '-';
}

constexpr const char* kIsoPattern = "%Y-%m-%d";

}  // namespace

std::string widenYear(std::string_view datePattern) {
    std::string out;
    for (size_t i = 0; i < datePattern.size(); ++i) {
        const char c = datePattern[i];
        if (c != '%' || i + 1 == datePattern.size()) {
            out.push_back(c);
            continue;
        }
        const char conversion = datePattern[++i];
        switch (conversion) {
            case 'y':
                out += "%Y";
                break;
            case 'D':
                out += "%m/%d/%Y";
                break;
            case 'F':
                out += "%Y-%m-%d";
                break;
            default:
                out.push_back('%');
                out.push_back(conversion);
        }
    }
    return out;
}

std::string narrowYear(std::string_view datePattern) {
    std::string out;
    for (size_t i = 0; i < datePattern.size(); ++i) {
        const char c = datePattern[i];
        out.push_back(c);
        if (c != '%' || i + 1 == datePattern.size()) continue;
        const char conversion = datePattern[++i];
        out.push_back(conversion == 'Y' ? 'y' : conversion);
    }
    return out;
}

std::string shortDateFormat() {
    return widenYear(nl_langinfo(D_FMT));
}

std::string formatShortDate(std::chrono::year_month_day date) {
    return formatShortDate(date, shortDateFormat());
}

std::string formatShortDate(std::chrono::year_month_day date, std::string_view pattern) {
    return strftimeText(std::string(pattern), toTm(date));
}

std::optional<std::chrono::year_month_day> parseShortDate(std::string_view text) {
    return parseShortDate(text, shortDateFormat());
}

std::optional<std::chrono::year_month_day> parseShortDate(std::string_view text,
                                                          std::string_view pattern) {
    const std::string owned(text);
    // The stored form first, so that it reads as the same day whatever the
    // locale's own form would make of it.
    if (looksIso(owned)) return parseWith(owned, kIsoPattern, 4);
    // A two-digit year first: the C library's %y reads it with the POSIX
    // pivot (69-99 the 1900s, 00-68 the 2000s), and it never matches a
    // four-digit year, which the widened form then reads.
    const std::string widened = widenYear(pattern);
    const std::string narrowed = narrowYear(widened);
    if (narrowed != widened) {
        if (auto date = parseWith(owned, narrowed, 2)) return date;
    }
    return parseWith(owned, widened, 4);
}

std::optional<std::string> writtenYearProblem(std::string_view text) {
    const auto groups = digitGroups(text);
    // A year written first, as in the stored form, whatever its digits.
    const bool yearFirst =
        groups.size() == 3 && groups[0].size() > 2 && text.find('-') != std::string_view::npos;
    const std::string_view year = yearFirst ? groups[0] : writtenYear(text, shortDateFormat());
    if (year.empty() || year.size() == 2 || year.size() == 4) return std::nullopt;
    return std::string(year);
}

std::string storedDateText(std::string_view text) {
    const auto date = parseShortDate(text);
    return date ? formatIsoDate(*date) : std::string(text);
}

std::string shownDateText(std::string_view stored) {
    const auto date = parseShortDate(stored);
    return date ? formatShortDate(*date) : std::string(stored);
}

std::vector<std::chrono::year_month_day> possibleReadings(std::string_view text) {
    std::vector<std::chrono::year_month_day> dates;
    const auto add = [&dates](std::optional<std::chrono::year_month_day> date) {
        if (date && std::find(dates.begin(), dates.end(), *date) == dates.end())
            dates.push_back(*date);
    };
    if (looksIso(text)) {
        add(parseShortDate(text, kIsoPattern));
        return dates;
    }
    // The forms the short dates of earlier versions took, whatever locale
    // wrote them: day and month in either order, the year last.
    std::string separators;
    for (const char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)) &&
            !std::isspace(static_cast<unsigned char>(c)))
            separators += c;
    if (separators.size() != 2 || separators[0] != separators[1]) {
        add(parseShortDate(text));
        return dates;
    }
    const std::string s(1, separators[0]);
    add(parseShortDate(text));
    add(parseShortDate(text, "%d" + s + "%m" + s + "%Y"));
    add(parseShortDate(text, "%m" + s + "%d" + s + "%Y"));
    return dates;
}

std::string formatIsoDate(std::chrono::year_month_day date) {
    return formatShortDate(date, "%Y-%m-%d");
}

void takeLocaleFromEnvironment() {
    std::setlocale(LC_ALL, "");
    // Numbers are written and read as SQL and the settings store write them.
    std::setlocale(LC_NUMERIC, "C");
}

std::chrono::year_month_day localDate(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    localtime_r(&t, &tm);
    return std::chrono::year_month_day{std::chrono::year{tm.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(tm.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(tm.tm_mday)}};
}

std::chrono::year_month_day today() {
    return localDate(std::chrono::system_clock::now());
}

std::string formatShortTime(std::chrono::system_clock::time_point when, bool seconds) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    localtime_r(&t, &tm);
    return strftimeText(seconds ? "%H:%M:%S" : "%H:%M", tm);
}

}  // namespace kestrix

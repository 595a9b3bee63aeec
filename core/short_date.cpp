#include "core/short_date.h"

#include <langinfo.h>
#include <time.h>

#include <cctype>
#include <clocale>
#include <cstring>

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

std::optional<std::chrono::year_month_day> parseWith(const std::string& text,
                                                     const std::string& pattern) {
    std::tm tm{};
    tm.tm_mday = 0;
    const char* end = strptime(text.c_str(), pattern.c_str(), &tm);
    if (end == nullptr || !onlyBlanksFrom(end)) return std::nullopt;
    // A year of the first centuries is a two-digit year read as written;
    // no account date lies there, so it is not taken as one.
    if (tm.tm_year + 1900 < 100) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{tm.tm_year + 1900},
                                           std::chrono::month{static_cast<unsigned>(tm.tm_mon + 1)},
                                           std::chrono::day{static_cast<unsigned>(tm.tm_mday)}};
    if (!date.ok()) return std::nullopt;
    return date;
}

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
    // A two-digit year first: the C library's %y reads it with the POSIX
    // pivot (69-99 the 1900s, 00-68 the 2000s), and it never matches a
    // four-digit year, which the widened form then reads.
    const std::string widened = widenYear(pattern);
    const std::string narrowed = narrowYear(widened);
    if (narrowed != widened) {
        if (auto date = parseWith(owned, narrowed)) return date;
    }
    if (auto date = parseWith(owned, widened)) return date;
    return parseWith(owned, "%Y-%m-%d");
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

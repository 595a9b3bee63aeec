#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestrix {

class Database;

// An account date that the upgrade leaves for the administrator.
struct UnclearDate {
    std::string user;
    std::string column;  // "Expires" or "DisableOn"
    std::string text;    // as stored
    // Every day the text could mean: two or more (read two ways), or none
    // (not a date at all).
    std::vector<std::chrono::year_month_day> readings;
};

struct DateUpgrade {
    std::size_t rewritten = 0;  // short dates now stored as YYYY-MM-DD
    std::size_t alreadyIso = 0;
    std::vector<UnclearDate> left;
    std::string failure;  // the database refused; nothing was changed
};

// An account date as stored by any version, in the stored form: the text
// as YYYY-MM-DD when it reads as one day only, whichever locale wrote it
// (blank stays blank). No value when it could mean two days or none: such
// a text is left as it is for the administrator, never guessed; `left`
// then gets the user, the column and the readings.
std::optional<std::string> dateInStoredForm(const std::string& user, const std::string& column,
                                            const std::string& text,
                                            std::vector<UnclearDate>& left);

// One line on a date left as it is: what it could mean and how to set it.
std::string describeUnclearDate(const UnclearDate& date);

// Rewrites every account date stored in a short form by an earlier version
// as YYYY-MM-DD, in one transaction. A text that reads as one day only,
// whichever locale wrote it, is rewritten; one that could mean two days
// (12/10/2026) or none is left as it is and listed, never guessed. Each
// rewrite checks that the stored text is still the one read.
DateUpgrade upgradeStoredDates(Database& db);

}  // namespace kestrix

#pragma once

#include <chrono>
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

// Rewrites every account date stored in a short form by an earlier version
// as YYYY-MM-DD, in one transaction. A text that reads as one day only,
// whichever locale wrote it, is rewritten; one that could mean two days
// (12/10/2026) or none is left as it is and listed, never guessed. Each
// rewrite checks that the stored text is still the one read.
DateUpgrade upgradeStoredDates(Database& db);

}  // namespace kestrix

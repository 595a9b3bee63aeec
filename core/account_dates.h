#pragma once

namespace kestrix {

enum class AccountDatesRun {
    Done,
    DatabaseUnavailable,  // the opening routine has spoken
    TablesFailed,         // a statement was refused; the run stopped there
};

inline constexpr const char* kAccountTablesMessage =
    "The database specified may have incorrect tables or be missing.\r\nPlease check your "
    "database and your connection string.";

// The daily account rules: users whose expiry date has come are deleted with
// their rows in every per-user table, each user in one transaction; users
// whose disable date has come are disabled and their date cleared. Dates
// are compared as calendar dates; a stored text that is not a date is never
// acted on, and is logged.
AccountDatesRun applyAccountDates();

}  // namespace kestrix

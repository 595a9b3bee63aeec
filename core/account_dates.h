#pragma once

#include <memory>
#include <optional>
#include <string>

namespace kestrix {

enum class AccountDatesRun {
    Done,
    DatabaseUnavailable,  // the opening routine has spoken
    TablesFailed,         // a statement was refused; the run stopped there
    Busy,                 // another program kept the SQLite file; the run stopped there
};

inline constexpr const char* kAccountTablesMessage =
    "The database specified may have incorrect tables or be missing.\r\nPlease check your "
    "database and your connection string.";

// The daily account rules: users whose expiry date has come are deleted with
// their rows in every per-user table; users whose disable date has come are
// disabled and their date cleared. Up to 500 users share a transaction, each
// user whole or not at all, and each change re-checks that the stored date
// is still the one that was due, so an account extended meanwhile stays.
// Dates are compared as calendar dates; a stored text that is not a date is
// never acted on, and is logged. Batches committed before a failure stay.
AccountDatesRun applyAccountDates();

// The same rules a batch at a time, for a program that lets other work run
// between batches: each step is one transaction.
class AccountDatesSteps {
  public:
    // Opens the database and reads the users whose date came; nothing is
    // changed yet.
    AccountDatesSteps();
    ~AccountDatesSteps();
    AccountDatesSteps(const AccountDatesSteps&) = delete;
    AccountDatesSteps& operator=(const AccountDatesSteps&) = delete;

    // Applies the next batch; false when the run has ended (outcome says
    // how), true while batches remain.
    bool next();
    // No value while the run goes on.
    [[nodiscard]] std::optional<AccountDatesRun> outcome() const { return outcome_; }
    // Whether a batch so far deleted or disabled an account.
    [[nodiscard]] bool changedAccounts() const;

  private:
    struct Work;
    // Ends the run and records its summary.
    void finish(AccountDatesRun outcome, const std::string& reason = {});

    std::unique_ptr<Work> work_;
    std::optional<AccountDatesRun> outcome_;
};

}  // namespace kestrix

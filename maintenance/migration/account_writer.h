#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "maintenance/migration/account_plan.h"

namespace kestrix {
class Database;
}

namespace kestrix::migration {

// What one run wrote, or why it wrote nothing.
struct WriteOutcome {
    bool committed = false;
    std::string failure;  // why the transaction was undone; empty when committed
    std::vector<std::string> written;
    std::vector<std::pair<std::string, std::string>> skipped;  // name, reason
    std::vector<std::string> domainsWritten;
    std::vector<std::pair<std::string, std::string>> domainsSkipped;
    // The domain form was asked for but the database has no domain tables.
    bool domainTablesMissing = false;
    // Stopped on request; the database is as it was.
    bool cancelled = false;
};

// Where a run stands: the step it is in, and how far that step has come.
struct WriteStep {
    std::string name;
    std::size_t done = 0;
    std::size_t total = 0;
};

// Called as each step begins and after each batch of rows; returning false
// cancels the run, which then undoes everything it wrote.
using WriteProgress = std::function<bool(const WriteStep&)>;

// Writes the plan's users (and, withDomains, the domains where the database
// has their tables) in one transaction, many rows per statement: a failure
// anywhere leaves the database as it was. An existing user name, compared
// without regard to case as the database compares it, is never
// overwritten: that user is skipped, as is a name the file holds twice.
WriteOutcome writeAccounts(Database& db, const AccountPlan& plan, bool withDomains,
                           const WriteProgress& progress = {});

}  // namespace kestrix::migration

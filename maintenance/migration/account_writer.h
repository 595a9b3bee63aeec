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
};

// Called after each user with the number done and the number in all.
using WriteProgress = std::function<void(std::size_t done, std::size_t total)>;

// Writes the plan's users (and, withDomains, the domains where the database
// has their tables) in one transaction: a failure anywhere leaves the
// database as it was. An existing user name, compared without regard to
// case, is never overwritten: that user is skipped.
WriteOutcome writeAccounts(Database& db, const AccountPlan& plan, bool withDomains,
                           const WriteProgress& progress = {});

}  // namespace kestrix::migration

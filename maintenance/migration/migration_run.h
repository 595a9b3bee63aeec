#pragma once

#include <string>

#include "maintenance/migration/account_plan.h"
#include "maintenance/migration/account_writer.h"

namespace kestrix::migration {

// Where the accounts come from and go to, as the program stored them.
struct MigrationSource {
    std::string connectionString;
    std::string accountFilePath;
};

MigrationSource storedSource();

// The account file read and understood, or why it could not be read.
struct LoadedAccounts {
    std::string problem;  // empty when the file was read
    AccountPlan plan;
};

LoadedAccounts loadAccounts(const std::string& accountFilePath);

// The whole run: what the file held and what the database took.
struct MigrationResult {
    std::string accountFilePath;
    std::string problem;  // the file or the database could not be used
    AccountPlan plan;
    WriteOutcome outcome;
    bool domainsAsked = false;

    bool migratedAny() const { return problem.empty() && !outcome.written.empty(); }
};

// Opens the database and writes the plan. withDomains: the build for the
// domain form of the server.
MigrationResult writePlan(const MigrationSource& source, LoadedAccounts loaded, bool withDomains,
                          const WriteProgress& progress = {});

// What was found, before anything is written.
std::string findingsText(const std::string& accountFilePath, const AccountPlan& plan);

// The report after the run.
std::string reportText(const MigrationResult& result);

// migration --batch: migrates without a window and prints the report on
// standard output; the exit status is 1 when nothing could be migrated.
int runBatch(bool withDomains);

}  // namespace kestrix::migration

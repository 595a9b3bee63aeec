#include "maintenance/migration/migration_run.h"

#include <cstdio>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unordered_set>

#include "core/audit_trail.h"
#include "core/database.h"
#include "core/settings.h"

namespace kestrix::migration {
namespace {

constexpr const char* kEol = "\n";

std::size_t ruleCount(const AccountPlan& plan) {
    std::size_t rules = 0;
    for (const auto& u : plan.users)
        rules += u.rules.size() + u.blockedIps.size();
    return rules;
}

// The lines of each user the filter lets through (all users without one).
void appendPerUser(std::string& text, const char* heading, const AccountPlan& plan,
                   std::vector<std::string> MigratedUser::*list,
                   const std::unordered_set<std::string>* only = nullptr) {
    bool any = false;
    for (const auto& u : plan.users) {
        if (only && !only->contains(u.name)) continue;
        for (const auto& line : u.*list) {
            if (!any) text += std::string(heading) + kEol;
            any = true;
            text += "  " + u.name + ": " + line + kEol;
        }
    }
}

// Said whenever the file was not read in the server's own code page.
std::string encodingText(const AccountPlan& plan) {
    if (plan.encoding != TextEncoding::Utf8) return {};
    return std::string("The account file is UTF-8") +
           (plan.byteOrderMark ? " (it begins with a byte-order mark)" : "") +
           ", not Windows-1252: it was read as UTF-8." + kEol;
}

// The stored forms guessed from the passwords' look.
void appendPasswordHashes(std::string& text, const AccountPlan& plan,
                          const std::unordered_set<std::string>* only = nullptr) {
    bool any = false;
    for (const auto& u : plan.users) {
        if (!u.passwordHash) continue;
        if (only && !only->contains(u.name)) continue;
        if (!any)
            text += std::string(
                        "Passwords taken as the server's hashes (the user logs in with "
                        "the same password):") +
                    kEol;
        any = true;
        text += "  " + u.name + ": " + *u.passwordHash + kEol;
    }
}

// The lines of the file that were not understood, each with its number.
void appendUnreadLines(std::string& text, const AccountPlan& plan) {
    if (plan.unreadLines.empty()) return;
    text += std::string("Lines of the account file that could not be read:") + kEol;
    for (const std::string& line : plan.unreadLines)
        text += "  " + line + kEol;
}

std::string noUsersText(const std::string& path) {
    return "The account file " + path +
           " lists no users. Nothing was migrated.\n"
           "The server may keep the users of its domains in another file or in its registry "
           "settings; point Kestrix's configuration at the file that holds the [USER=...] "
           "sections.\n";
}

}  // namespace

MigrationSource storedSource() {
    return {readConnectionString(), getRegSettings(kIniPathValue)};
}

LoadedAccounts loadAccounts(const std::string& accountFilePath) {
    LoadedAccounts loaded;
    if (accountFilePath.empty()) {
        loaded.problem =
            "No account file is configured: commit Kestrix's configuration dialog first.";
        return loaded;
    }
    std::ifstream in(accountFilePath, std::ios::binary);
    if (!in) {
        loaded.problem = "The account file " + accountFilePath +
                         " cannot be read: " + std::strerror(errno) + ".";
        return loaded;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    loaded.plan = planMigration(AccountFile::parse(bytes.str()));
    return loaded;
}

namespace {

// One line per account and a summary in the audit trail.
void recordRun(const MigrationResult& r) {
    audit::Change summary;
    summary.origin = "migration";
    const WriteOutcome& o = r.outcome;
    if (r.problem.empty() && o.committed) {
        for (const std::string& name : o.written) {
            audit::Change change;
            change.origin = summary.origin;
            change.ftpUser = name;
            change.what = "migrated from " + r.accountFilePath;
            audit::record(change);
        }
        for (const auto& [name, reason] : o.skipped) {
            audit::Change change;
            change.origin = summary.origin;
            change.ftpUser = name;
            change.what = "not migrated from " + r.accountFilePath;
            change.result = audit::Result::Refused;
            change.reason = reason;
            audit::record(change);
        }
    }
    summary.what = std::to_string(r.plan.users.size()) + " users in " + r.accountFilePath;
    if (r.problem.empty() && o.committed) {
        summary.what += ": " + std::to_string(o.written.size()) + " migrated, " +
                        std::to_string(o.skipped.size()) + " skipped";
        if (r.domainsAsked)
            summary.what += "; " + std::to_string(o.domainsWritten.size()) + " domains migrated, " +
                            std::to_string(o.domainsSkipped.size()) + " skipped";
    } else if (!r.problem.empty()) {
        summary.result = audit::Result::Failed;
        summary.reason = r.problem;
    } else if (o.cancelled) {
        summary.result = audit::Result::Refused;
        summary.reason = "cancelled; the database is as it was";
    } else if (!r.plan.users.empty()) {
        summary.result = audit::Result::Failed;
        summary.reason = o.failure;
    }
    audit::record(summary);
}

MigrationResult writeUnrecorded(const MigrationSource& source, LoadedAccounts loaded,
                                bool withDomains, const WriteProgress& progress) {
    MigrationResult result;
    result.accountFilePath = source.accountFilePath;
    result.plan = std::move(loaded.plan);
    result.problem = std::move(loaded.problem);
    result.domainsAsked = withDomains;
    if (!result.problem.empty() || result.plan.users.empty()) return result;
    Database db;
    if (!db.open(source.connectionString)) {
        result.problem = "The database cannot be opened: " + db.lastError();
        return result;
    }
    result.outcome = writeAccounts(db, result.plan, withDomains, progress);
    db.close();
    return result;
}

}  // namespace

MigrationResult writePlan(const MigrationSource& source, LoadedAccounts loaded, bool withDomains,
                          const WriteProgress& progress) {
    MigrationResult result = writeUnrecorded(source, std::move(loaded), withDomains, progress);
    recordRun(result);
    return result;
}

std::string findingsText(const std::string& accountFilePath, const AccountPlan& plan) {
    if (plan.users.empty()) {
        std::string text = noUsersText(accountFilePath);
        appendUnreadLines(text, plan);
        return text;
    }
    std::string text = "Account file: " + accountFilePath + kEol;
    text += encodingText(plan);
    text += std::to_string(plan.users.size()) + " users, " + std::to_string(ruleCount(plan)) +
            " directory and address rules";
    if (!plan.domains.empty()) text += ", " + std::to_string(plan.domains.size()) + " domains";
    text += kEol;
    for (const auto& u : plan.users) {
        text += "  " + u.name;
        if (u.domainNumber) text += " (domain " + std::to_string(*u.domainNumber) + ")";
        text += kEol;
    }
    appendPasswordHashes(text, plan);
    appendPerUser(text, "Not carried over:", plan, &MigratedUser::notCarried);
    appendPerUser(text, "To look at afterwards:", plan, &MigratedUser::warnings);
    appendUnreadLines(text, plan);
    return text;
}

std::string reportText(const MigrationResult& r) {
    if (!r.problem.empty()) return r.problem + kEol + "Nothing was migrated." + kEol;
    if (r.plan.users.empty()) {
        std::string text = noUsersText(r.accountFilePath);
        appendUnreadLines(text, r.plan);
        return text;
    }
    const WriteOutcome& o = r.outcome;
    std::string text;
    if (o.cancelled)
        return std::string("Cancelled: nothing was migrated. The database is as it was before.") +
               kEol;
    if (!o.committed) {
        text = "Nothing was migrated: the database refused the change (" + o.failure +
               "). The database is as it was before." + kEol;
        return text;
    }
    text = "Migrated " + std::to_string(o.written.size()) + " of " +
           std::to_string(r.plan.users.size()) + " users from " + r.accountFilePath + "." + kEol;
    text += encodingText(r.plan);
    for (const auto& name : o.written)
        text += "  " + name + kEol;
    if (!o.skipped.empty()) {
        text += std::string("Not migrated:") + kEol;
        for (const auto& [name, reason] : o.skipped)
            text += "  " + name + ": " + reason + kEol;
    }
    appendUnreadLines(text, r.plan);
    const std::unordered_set<std::string> written(o.written.begin(), o.written.end());
    appendPasswordHashes(text, r.plan, &written);
    appendPerUser(text, "Not carried over:", r.plan, &MigratedUser::notCarried, &written);
    appendPerUser(text, "To look at now:", r.plan, &MigratedUser::warnings, &written);
    if (r.domainsAsked && o.domainTablesMissing)
        text += std::string(
                    "This database has no domain tables: the users were migrated "
                    "without their domains.") +
                kEol;
    if (!o.domainsWritten.empty())
        text += "Domains migrated: " + std::to_string(o.domainsWritten.size()) + kEol;
    for (const auto& [name, reason] : o.domainsSkipped)
        text += "  domain " + name + " not migrated: " + reason + kEol;
    return text;
}

int runBatch(bool withDomains) {
    const MigrationSource source = storedSource();
    const MigrationResult result =
        writePlan(source, loadAccounts(source.accountFilePath), withDomains);
    const std::string report = reportText(result);
    // A report that did not reach its reader is a failure too.
    if (std::fwrite(report.data(), 1, report.size(), stdout) != report.size() ||
        std::fflush(stdout) != 0)
        return 1;
    return result.migratedAny() ? 0 : 1;
}

}  // namespace kestrix::migration

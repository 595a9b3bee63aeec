// db upgrade: makes an existing database hold password hashes, ties the
// per-user tables to users and keeps its account dates in the one stored
// form; db check: rows left without their user.
#include <filesystem>
#include <iostream>

#include "cli/cli_prompts.h"
#include "cli/commands.h"
#include "cli/loaded_user.h"
#include "core/activity_log.h"
#include "core/audit_trail.h"
#include "core/connection_string.h"
#include "core/database.h"
#include "core/owner_keys.h"
#include "core/password_storage.h"
#include "core/schema.h"
#include "core/session_registry.h"
#include "core/settings.h"
#include "core/short_date.h"
#include "core/stored_dates.h"

namespace kestrix::cli {

namespace {

std::string widthText(std::size_t width) {
    return width == kUnlimitedWidth ? std::string("unlimited") : std::to_string(width);
}

void printOrphans(const std::vector<OrphanRow>& rows) {
    for (const OrphanRow& row : rows)
        std::cout << row.table << '\t' << terminalText(row.username) << '\t'
                  << terminalText(row.entry) << '\n';
}

// Each row removed, in the audit trail under the user it belonged to.
void recordRemoved(const std::vector<OrphanRow>& rows) {
    for (const OrphanRow& row : rows) {
        audit::Change change;
        change.origin = "kestrix db check";
        change.ftpUser = row.username;
        change.what = "orphan row removed from " + row.table + ": " + row.entry;
        audit::record(change);
    }
}

// The dates stored in a short form by earlier versions, as YYYY-MM-DD.
int upgradeDates() {
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    const DateUpgrade upgrade = upgradeStoredDates(db);
    closeDatabase(db);
    if (!upgrade.failure.empty()) return refuse(terminalText(upgrade.failure));
    std::cout << "Dates stored as YYYY-MM-DD now: " << upgrade.rewritten << '\n'
              << "Stored as YYYY-MM-DD already: " << upgrade.alreadyIso << '\n'
              << "Left as they are, for you to set: " << upgrade.left.size() << '\n';
    for (const UnclearDate& date : upgrade.left)
        std::cout << "  " << describeUnclearDate(date) << '\n';
    return kExitDone;
}

// PostgreSQL: the table where the answering services of every host register
// their sessions. True when it was made now; no value on failure.
std::optional<bool> addSessionsTable(Database& db) {
    if (db.engine() != Engine::PostgreSQL) return false;
    bool present = false;
    if (!db.readColumn("select to_regclass('sessions')::text", {},
                       [&](Database::ValueView name) { present = name.has_value(); }))
        return std::nullopt;
    if (present) return false;
    if (!db.execute(sessionsTableStatement())) return std::nullopt;
    return true;
}

}  // namespace

int dbCheck(const Invocation& in) {
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    const bool repair = in.has("--repair");
    const auto rows = repair ? removeOrphans(db) : findOrphans(db);
    if (!rows) {
        const std::string failure = db.lastError();
        closeDatabase(db);
        return refuse(terminalText(failure));
    }
    closeDatabase(db);
    if (rows->empty()) {
        std::cout << "No rows without their user.\n";
        return kExitDone;
    }
    printOrphans(*rows);
    if (repair) {
        recordRemoved(*rows);
        std::cout << rows->size() << " rows without their user removed.\n";
        return kExitDone;
    }
    std::cerr << rows->size()
              << " rows without their user (kestrix db check --repair removes them).\n";
    return kExitRefused;
}

int dbInit(const Invocation& /*in*/) {
    const std::string connection = readConnectionString();
    if (connection.empty()) return refuse("No connection string is stored (kestrix config set).");
    const std::string problem = connectionStringProblem(connection);
    if (!problem.empty()) return refuse(terminalText(problem));
    const ParsedConnection parsed = parseConnectionString(connection);
    if (parsed.target->engine == Engine::SQLite && !std::filesystem::exists(parsed.target->path)) {
        std::string error;
        if (!createSqliteDatabaseFile(parsed.target->path, &error))
            return refuse(terminalText(error));
        writeLog("create tables");
        return kExitDone;
    }
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    const auto failed = [&] {
        const std::string failure = db.lastError();
        db.rollback();
        return refuse(terminalText(failure));
    };
    // One transaction that holds the database against another db init from
    // the start: the tables are looked for and made under it, and a table
    // that fails leaves none of the others.
    const bool sqlite = db.engine() == Engine::SQLite;
    const bool held =
        sqlite ? db.execute("BEGIN IMMEDIATE")
               : db.begin() && db.readColumn("select pg_advisory_xact_lock(hashtext(:v1))",
                                             {"kestrix db init"}, [](Database::ValueView) {});
    if (!held) return failed();
    const char* lookup = sqlite ? "select name from sqlite_master where type='table' and "
                                  "lower(name)=lower(:v1)"
                                : "select to_regclass(:v1)::text";
    for (const TableDef& table : userTables()) {
        bool found = false;
        if (!db.readColumn(lookup, {table.name},
                           [&](Database::ValueView name) { found = found || name.has_value(); }))
            return failed();
        if (found) {
            db.rollback();
            return refuse("The database holds the table " + std::string(table.name) +
                          " already: nothing was created.");
        }
    }
    writeLog("create tables");
    if (!createSchema(db) || !db.commit()) return failed();
    closeDatabase(db);
    return kExitDone;
}

int dbUpgrade(const Invocation& in) {
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    const PasswordUpgrade upgrade = upgradePasswordColumn(db, in.has("--hash-passwords"));
    const OwnerKeysUpgrade keys = upgrade.failure.empty() ? addOwnerKeys(db) : OwnerKeysUpgrade{};
    const std::optional<bool> sessions =
        upgrade.failure.empty() && keys.failure.empty() ? addSessionsTable(db) : false;
    const std::string sessionsFailure = sessions ? std::string() : db.lastError();
    closeDatabase(db);
    if (upgrade.widened) {
        std::cout << "users.password widened from " << upgrade.widthBefore << " to "
                  << passwordColumnTarget() << " characters.\n";
    } else if (upgrade.failure.empty() || upgrade.widthBefore != 0) {
        std::cout << "users.password already holds " << widthText(upgrade.widthBefore)
                  << " characters.\n";
    }
    if (!upgrade.failure.empty()) return refuse(terminalText(upgrade.failure));
    if (in.has("--hash-passwords")) {
        std::cout << "Passwords hashed: " << upgrade.hashed << '\n'
                  << "Already hashed: " << upgrade.strong << '\n'
                  << "Older hashes, replaced at their next login: " << upgrade.olderHashes << '\n'
                  << "Empty, nothing to hash: " << upgrade.empty << '\n';
        if (upgrade.changedMeanwhile != 0)
            std::cout << "Set anew meanwhile, left as set: " << upgrade.changedMeanwhile << '\n';
    }
    if (!keys.failure.empty()) return refuse(terminalText(keys.failure));
    if (!keys.orphans.empty()) {
        printOrphans(keys.orphans);
        return refuse(std::to_string(keys.orphans.size()) +
                      " rows without their user: the foreign keys were not added (kestrix db "
                      "check --repair removes them).");
    }
    if (!keys.twice.empty()) {
        std::string names;
        for (const std::string& name : keys.twice)
            names += (names.empty() ? "" : ", ") + terminalText(name);
        return refuse("Names stored more than once: " + names +
                      ". The foreign keys were not added (kestrix user list --duplicates).");
    }
    if (keys.added) {
        audit::Change change;
        change.origin = "kestrix db upgrade";
        change.what = "foreign keys added: a user's rows go with the user";
        audit::record(change);
        std::cout << "Foreign keys added: a user's rows now go with the user.\n";
    } else {
        std::cout << "Foreign keys present.\n";
    }
    if (!sessions) return refuse(terminalText(sessionsFailure));
    if (*sessions)
        std::cout << "Sessions table added: every host's sessions are counted together.\n";
    if (in.has("--dates")) return upgradeDates();
    return kExitDone;
}

}  // namespace kestrix::cli

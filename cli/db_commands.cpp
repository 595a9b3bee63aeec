// db upgrade: makes an existing database hold password hashes, and its
// account dates in the one stored form.
#include <filesystem>
#include <iostream>

#include "cli/cli_prompts.h"
#include "cli/commands.h"
#include "cli/loaded_user.h"
#include "core/activity_log.h"
#include "core/connection_string.h"
#include "core/database.h"
#include "core/password_storage.h"
#include "core/schema.h"
#include "core/settings.h"
#include "core/short_date.h"
#include "core/stored_dates.h"

namespace kestrix::cli {

namespace {

std::string widthText(std::size_t width) {
    return width == kUnlimitedWidth ? std::string("unlimited") : std::to_string(width);
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
    for (const UnclearDate& date : upgrade.left) {
        std::cout << "  " << date.user << ' ' << date.column << " \"" << date.text << "\": ";
        if (date.readings.empty()) {
            std::cout << "not a date";
        } else {
            std::cout << "could be";
            for (std::size_t i = 0; i < date.readings.size(); ++i)
                std::cout << (i == 0 ? " " : " or ") << formatIsoDate(date.readings[i]);
        }
        std::cout << " (kestrix user set " << date.user << ' '
                  << (date.column == "Expires" ? "--expires" : "--disable-on") << " YYYY-MM-DD)\n";
    }
    return kExitDone;
}

}  // namespace

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
    }
    if (in.has("--dates")) return upgradeDates();
    return kExitDone;
}

}  // namespace kestrix::cli

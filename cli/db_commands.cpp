// db upgrade: makes an existing database hold password hashes.
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

namespace kestrix::cli {

namespace {

std::string widthText(std::size_t width) {
    return width == kUnlimitedWidth ? std::string("unlimited") : std::to_string(width);
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
    for (const TableDef& table : userTables()) {
        if (db.query(std::string("select * from ") + table.name + " where 1=0"))
            return refuse("The database holds the table " + std::string(table.name) +
                          " already: nothing was created.");
    }
    writeLog("create tables");
    // One transaction: a table that fails leaves none of the others.
    if (!db.begin() || !createSchema(db) || !db.commit()) {
        const std::string failure = db.lastError();
        db.rollback();
        return refuse(terminalText(failure));
    }
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
    return kExitDone;
}

}  // namespace kestrix::cli

#include "core/owner_keys.h"

#include "core/database.h"
#include "core/schema.h"
#include "core/write_lock.h"

namespace kestrix {

std::vector<std::string> postgresOwnerKeyStatements(std::string_view collation);
std::vector<std::string> sqliteOwnerKeyStatements();

const std::vector<OwnedTable>& ownedTables() {
    static const std::vector<OwnedTable> tables = {
        {"blocked_ips_by_user", "owner", "ip"},
        {"dir_rights", "username", "directory"},
        {"file_rights", "username", "filename"},
        {"ratio_free_files", "owner", "filename"},
    };
    return tables;
}

const OwnedTable* ownedTable(std::string_view table) {
    for (const OwnedTable& owned : ownedTables())
        if (table == owned.table) return &owned;
    return nullptr;
}

std::string ownerKeyName(const OwnedTable& owned) {
    return std::string(owned.table) + "_owner_fkey";
}

std::vector<std::string> ownerKeyStatements(Engine engine, std::string_view collation) {
    std::vector<std::string> statements = engine == Engine::PostgreSQL
                                              ? postgresOwnerKeyStatements(collation)
                                              : sqliteOwnerKeyStatements();
    for (std::string& index : ownerIndexStatements())
        statements.push_back(std::move(index));
    return statements;
}

std::vector<std::string> ownerIndexStatements() {
    std::vector<std::string> statements;
    for (const OwnedTable& owned : ownedTables()) {
        if (std::string_view(owned.keyColumn) != "owner") continue;
        statements.push_back(std::string("CREATE INDEX IF NOT EXISTS ") + owned.table +
                             "_owner_idx ON " + owned.table + " (owner)");
    }
    return statements;
}

std::string userGoneMessage(const std::string& name) {
    return "User " + name + " no longer exists";
}

namespace {

std::string orphanCondition(const OwnedTable& owned) {
    return std::string(
               " WHERE username<>'*' AND NOT EXISTS (SELECT 1 FROM users WHERE "
               "users.username=") +
           owned.table + ".username)";
}

bool readOrphans(Database& db, std::vector<OrphanRow>& rows) {
    for (const OwnedTable& owned : ownedTables()) {
        const std::string sql = std::string("SELECT username, ") + owned.entry + " FROM " +
                                owned.table + orphanCondition(owned) + " ORDER BY username";
        if (!db.readViews(sql, {}, 2, [&](Database::RowView row) {
                rows.push_back({owned.table, std::string(row[0].value_or("")),
                                std::string(row[1].value_or(""))});
            }))
            return false;
    }
    return true;
}

// Undoes the transaction; lastError keeps the reason it failed.
void undo(Database& db) {
    db.rollback();
}

}  // namespace

std::optional<std::vector<OrphanRow>> findOrphans(Database& db) {
    std::vector<OrphanRow> rows;
    if (!readOrphans(db, rows)) return std::nullopt;
    return rows;
}

std::optional<std::vector<OrphanRow>> removeOrphans(Database& db) {
    // The users table's lock waits for every writer of a user's rows.
    if (!beginLocked(db, WriteLock::table("users"))) return std::nullopt;
    std::vector<OrphanRow> rows;
    if (!readOrphans(db, rows)) {
        undo(db);
        return std::nullopt;
    }
    for (const OwnedTable& owned : ownedTables()) {
        if (!db.execute(std::string("DELETE FROM ") + owned.table + orphanCondition(owned))) {
            undo(db);
            return std::nullopt;
        }
    }
    if (!db.commit()) {
        undo(db);
        return std::nullopt;
    }
    return rows;
}

std::optional<bool> hasOwnerKeys(Database& db) {
    for (const OwnedTable& owned : ownedTables()) {
        bool found = false;
        const bool read =
            db.engine() == Engine::SQLite
                ? db.readColumn(std::string("SELECT \"table\" FROM pragma_foreign_key_list('") +
                                    owned.table + "')",
                                {}, [&](Database::ValueView) { found = true; })
                : db.readColumn("SELECT conname FROM pg_constraint WHERE conname=:v1",
                                {ownerKeyName(owned)}, [&](Database::ValueView) { found = true; });
        if (!read) return std::nullopt;
        if (!found) return false;
    }
    return true;
}

OwnerKeysUpgrade addOwnerKeys(Database& db) {
    OwnerKeysUpgrade result;
    const auto present = hasOwnerKeys(db);
    if (!present) {
        result.failure = db.lastError();
        return result;
    }
    if (*present) {
        result.present = true;
        // Keys added by a version that made no index for them.
        for (const std::string& statement : ownerIndexStatements()) {
            if (!db.execute(statement)) {
                result.failure = db.lastError();
                break;
            }
        }
        return result;
    }
    if (!beginLocked(db, WriteLock::table("users"))) {
        result.failure = db.lastError();
        return result;
    }
    const auto refused = [&] {
        result.failure = db.lastError();
        db.rollback();
        return result;
    };
    if (!readOrphans(db, result.orphans)) return refused();
    if (!db.readColumn(
            "SELECT username FROM users GROUP BY username HAVING count(*)>1", {},
            [&](Database::ValueView name) { result.twice.emplace_back(name.value_or("")); }))
        return refused();
    if (!result.orphans.empty() || !result.twice.empty()) {
        db.rollback();
        return result;
    }
    std::string collation;
    if (db.engine() == Engine::PostgreSQL &&
        !db.readColumn("SELECT collation_name FROM information_schema.columns WHERE "
                       "table_schema=current_schema() AND table_name='users' AND "
                       "column_name='username'",
                       {}, [&](Database::ValueView name) { collation = name.value_or(""); }))
        return refused();
    for (const std::string& statement : ownerKeyStatements(db.engine(), collation))
        if (!db.execute(statement)) return refused();
    if (!db.commit()) return refused();
    result.added = true;
    return result;
}

}  // namespace kestrix

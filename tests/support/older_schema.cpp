#include "tests/support/older_schema.h"

#include <gtest/gtest.h>

#include "core/database.h"
#include "core/owner_keys.h"
#include "core/schema.h"

namespace kestrix::test {

namespace {

constexpr const char* kOwnerReference =
    " REFERENCES users (username) ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED";

std::string withoutKeys(std::string statement) {
    const std::size_t owner = statement.find(", owner ");
    if (owner != std::string::npos) statement = statement.substr(0, owner) + ")";
    const std::string key = kOwnerReference;
    for (std::size_t at; (at = statement.find(key)) != std::string::npos;)
        statement.erase(at, key.size());
    if (statement.starts_with("CREATE UNIQUE INDEX")) statement.erase(7, 7);
    return statement;
}

void run(Database& db, const std::string& statement) {
    EXPECT_TRUE(db.execute(statement)) << statement << ": " << db.lastError();
}

}  // namespace

std::vector<std::string> olderSchemaStatements(Engine engine) {
    std::vector<std::string> statements;
    for (const std::string& statement : dialectFor(engine).schemaStatements())
        if (!statement.starts_with("ALTER TABLE") &&
            statement.find("_owner_idx") == std::string::npos)
            statements.push_back(withoutKeys(statement));
    return statements;
}

void dropOwnerKeys(Database& db) {
    for (const OwnedTable& owned : ownedTables()) {
        const std::string table = owned.table;
        if (db.engine() == Engine::PostgreSQL) {
            run(db, "ALTER TABLE " + table + " DROP CONSTRAINT IF EXISTS " + ownerKeyName(owned));
            run(db, "ALTER TABLE " + table + " DROP COLUMN IF EXISTS owner");
            continue;
        }
        std::string columns;
        for (const TableDef& def : userTables())
            if (def.name == table)
                for (const ColumnDef& column : def.columns)
                    columns += (columns.empty() ? "" : ", ") + std::string(column.name);
        run(db, "ALTER TABLE " + table + " RENAME TO " + table + "_keyed");
        for (const std::string& statement : olderSchemaStatements(Engine::SQLite))
            if (statement.starts_with("CREATE TABLE " + table + " ")) run(db, statement);
        run(db, "INSERT INTO " + table + " (" + columns + ") SELECT " + columns + " FROM " + table +
                    "_keyed ORDER BY rowid");
        run(db, "DROP TABLE " + table + "_keyed");
    }
    for (const std::string& statement :
         userNameIndexStatements(db.engine() == Engine::SQLite ? "NOCASE" : "nocase"))
        run(db, statement);
}

}  // namespace kestrix::test

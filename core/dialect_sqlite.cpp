#include <string>

#include "core/owner_keys.h"
#include "core/schema.h"

namespace kestrix {

namespace {

// The embedded file form: every column may be NULL, user names compare
// without regard to case, users carry domainID and an autoincrement rid,
// and two further tables serve the migration utility.
std::string columnType(const ColumnDef& c) {
    switch (c.kind) {
        case ColumnKind::Text:
        case ColumnKind::FixedText:
            return "VARCHAR(" + std::to_string(c.size) + ")";
        case ColumnKind::LongText:
            return "TEXT";
        case ColumnKind::Integer:
            return "INTEGER";
        case ColumnKind::Real:
        case ColumnKind::Numeric:
            return "DOUBLE";
    }
    return "TEXT";
}

// Checked at commit, so that a rename can move a user's rows after its
// row within one transaction.
constexpr const char* kOwnerReference =
    " REFERENCES users (username) ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED";

std::string tableStatement(const TableDef& table, std::string_view createdAs) {
    std::string sql = "CREATE TABLE " + std::string(createdAs) + " (";
    const OwnedTable* owned = ownedTable(table.name);
    bool first = true;
    for (const ColumnDef& column : table.columns) {
        sql += first ? "" : ", ";
        first = false;
        sql += std::string(column.name) + " " + columnType(column);
        if (std::string_view(column.name) == "username") {
            sql += " COLLATE NOCASE";
            if (owned && std::string_view(owned->keyColumn) == "username") sql += kOwnerReference;
        }
    }
    if (owned && std::string_view(owned->keyColumn) == "owner") {
        sql += std::string(
                   ", owner VARCHAR(50) COLLATE NOCASE GENERATED ALWAYS AS "
                   "(NULLIF(username, '*')) VIRTUAL") +
               kOwnerReference;
    }
    if (std::string_view(table.name) == "users") {
        sql += ", domainID INTEGER, rid INTEGER PRIMARY KEY AUTOINCREMENT";
    }
    return sql + ")";
}

class SqliteDialect final : public Dialect {
  public:
    Engine engine() const override { return Engine::SQLite; }

    std::vector<std::string> schemaStatements() const override {
        std::vector<std::string> statements;
        for (const TableDef& table : userTables())
            statements.push_back(tableStatement(table, table.name));
        statements.push_back(
            "CREATE TABLE domains (rid INTEGER PRIMARY KEY AUTOINCREMENT, "
            "DOMAINIDENTITY VARCHAR(50), IPADDRESS VARCHAR(50), IMPERCEPTUS VARCHAR(50), "
            "PORT VARCHAR(50), DOMAINNAME VARCHAR(50), DOMAINID INTEGER, NUSQUAM VARCHAR(50))");
        statements.push_back(
            "CREATE TABLE domainDetails (rid INTEGER PRIMARY KEY AUTOINCREMENT, "
            "DOMAINIDENTITY VARCHAR(50), USERIDENTITY VARCHAR(50), USERNAME VARCHAR(50), "
            "DOMAINID INTEGER, NUSQUAM VARCHAR(50))");
        // A new database holds each name once.
        for (std::string& index : userNameIndexStatements("NOCASE", true))
            statements.push_back(std::move(index));
        for (std::string& index : ownerIndexStatements())
            statements.push_back(std::move(index));
        return statements;
    }

    std::vector<std::string> indexStatements() const override {
        return userNameIndexStatements("NOCASE");
    }

    std::vector<std::string> createDatabaseStatements(std::string_view) const override {
        return {};
    }
    std::vector<std::string> dropDatabaseStatements(std::string_view) const override { return {}; }
};

}  // namespace

// A column cannot be given a key afterwards: each owned table is made
// again beside the old one, filled from it, and takes its place. The
// columns copied are those both forms have.
std::vector<std::string> sqliteOwnerKeyStatements() {
    std::vector<std::string> statements{
        "CREATE UNIQUE INDEX IF NOT EXISTS users_username_key "
        "ON users (username COLLATE NOCASE)"};
    for (const OwnedTable& owned : ownedTables()) {
        for (const TableDef& table : userTables()) {
            if (std::string_view(table.name) != owned.table) continue;
            const std::string fresh = std::string(table.name) + "_keyed";
            std::string columns;
            for (const ColumnDef& column : table.columns)
                columns += (columns.empty() ? "" : ", ") + std::string(column.name);
            statements.push_back(tableStatement(table, fresh));
            statements.push_back("INSERT INTO " + fresh + " (" + columns + ") SELECT " + columns +
                                 " FROM " + table.name + " ORDER BY rowid");
            statements.push_back(std::string("DROP TABLE ") + table.name);
            statements.push_back("ALTER TABLE " + fresh + " RENAME TO " + table.name);
        }
    }
    for (std::string& index : userNameIndexStatements("NOCASE"))
        statements.push_back(std::move(index));
    return statements;
}

const Dialect& sqliteDialect() {
    static const SqliteDialect dialect;
    return dialect;
}

}  // namespace kestrix

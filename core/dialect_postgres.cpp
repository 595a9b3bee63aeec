#include <string>

#include "core/owner_keys.h"
#include "core/schema.h"
#include "core/session_registry.h"

namespace kestrix {

namespace {

// The server form: the columns and NULL rules of the server tables, no keys,
// user names compared through a case-insensitive ICU collation.
constexpr const char* kNoCaseCollation = "nocase";

std::string columnType(const ColumnDef& c) {
    switch (c.kind) {
        case ColumnKind::Text:
        case ColumnKind::LongText:
            return "VARCHAR(" + std::to_string(c.size) + ")";
        case ColumnKind::FixedText:
            return "CHAR(" + std::to_string(c.size) + ")";
        case ColumnKind::Integer:
            return "INTEGER";
        case ColumnKind::Real:
            return "DOUBLE PRECISION";
        case ColumnKind::Numeric:
            return "NUMERIC(18,0)";
    }
    return "TEXT";
}

std::string quotedIdentifier(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string collated(std::string_view collation) {
    return collation.empty() ? std::string() : " COLLATE " + quotedIdentifier(collation);
}

std::string ownerColumn(std::string_view collation) {
    return "owner VARCHAR(50)" + collated(collation) +
           " GENERATED ALWAYS AS (NULLIF(username, '*')) STORED";
}

// Checked at commit, so that a rename can move a user's rows after its
// row within one transaction.
std::string ownerKey(const OwnedTable& owned) {
    return std::string("ALTER TABLE ") + owned.table + " ADD CONSTRAINT " + ownerKeyName(owned) +
           " FOREIGN KEY (" + owned.keyColumn +
           ") REFERENCES users (username) ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED";
}

class PostgresDialect final : public Dialect {
  public:
    Engine engine() const override { return Engine::PostgreSQL; }

    std::vector<std::string> schemaStatements() const override {
        std::vector<std::string> statements;
        statements.push_back(
            std::string("CREATE COLLATION IF NOT EXISTS ") + kNoCaseCollation +
            " (provider = icu, locale = 'und-u-ks-level2', deterministic = false)");
        for (const TableDef& table : userTables()) {
            std::string sql = std::string("CREATE TABLE ") + table.name + " (";
            bool first = true;
            for (const ColumnDef& column : table.columns) {
                sql += first ? "" : ", ";
                first = false;
                sql += std::string(column.name) + " " + columnType(column);
                if (std::string_view(column.name) == "username") {
                    sql += std::string(" COLLATE ") + kNoCaseCollation;
                }
                sql += column.notNull ? " NOT NULL" : " NULL";
            }
            const OwnedTable* owned = ownedTable(table.name);
            if (owned && std::string_view(owned->keyColumn) == "owner")
                sql += ", " + ownerColumn(kNoCaseCollation);
            statements.push_back(sql + ")");
        }
        // A new database holds each name once.
        for (std::string& index : userNameIndexStatements(kNoCaseCollation, true))
            statements.push_back(std::move(index));
        for (const OwnedTable& owned : ownedTables())
            statements.push_back(ownerKey(owned));
        for (std::string& index : ownerIndexStatements())
            statements.push_back(std::move(index));
        // Where every host's answering service registers its sessions.
        statements.push_back(sessionsTableStatement());
        return statements;
    }

    std::vector<std::string> indexStatements() const override {
        return userNameIndexStatements(kNoCaseCollation);
    }

    std::vector<std::string> createDatabaseStatements(std::string_view name) const override {
        // The name is typed by the administrator: quoted, it reaches the
        // server exactly as libpq's dbname will name it, whatever it holds.
        return {"CREATE DATABASE " + quotedIdentifier(name) +
                " ENCODING 'UTF8' TEMPLATE template0"};
    }
    std::vector<std::string> dropDatabaseStatements(std::string_view name) const override {
        return {"DROP DATABASE IF EXISTS " + quotedIdentifier(name) + " WITH (FORCE)"};
    }
};

}  // namespace

std::vector<std::string> postgresOwnerKeyStatements(std::string_view collation) {
    std::vector<std::string> statements{
        "CREATE UNIQUE INDEX IF NOT EXISTS users_username_key "
        "ON users (username)"};
    for (const OwnedTable& owned : ownedTables()) {
        if (std::string_view(owned.keyColumn) == "owner")
            statements.push_back(std::string("ALTER TABLE ") + owned.table +
                                 " ADD COLUMN IF NOT EXISTS " + ownerColumn(collation));
        statements.push_back(ownerKey(owned));
    }
    return statements;
}

const Dialect& postgresDialect() {
    static const PostgresDialect dialect;
    return dialect;
}

}  // namespace kestrix

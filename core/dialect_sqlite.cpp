#include <string>

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

class SqliteDialect final : public Dialect {
  public:
    Engine engine() const override { return Engine::SQLite; }

    std::vector<std::string> schemaStatements() const override {
        std::vector<std::string> statements;
        for (const TableDef& table : userTables()) {
            std::string sql = std::string("CREATE TABLE ") + table.name + " (";
            bool first = true;
            for (const ColumnDef& column : table.columns) {
                sql += first ? "" : ", ";
                first = false;
                sql += std::string(column.name) + " " + columnType(column);
                if (std::string_view(column.name) == "username") sql += " COLLATE NOCASE";
            }
            if (std::string_view(table.name) == "users") {
                sql += ", domainID INTEGER, rid INTEGER PRIMARY KEY AUTOINCREMENT";
            }
            statements.push_back(sql + ")");
        }
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

const Dialect& sqliteDialect() {
    static const SqliteDialect dialect;
    return dialect;
}

}  // namespace kestrix

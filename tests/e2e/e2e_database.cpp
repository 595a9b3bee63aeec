// The end-to-end tests' hands on a user database, on either engine, through
// the same database layer the program uses:
//   kestrix_e2e_db create CONNSTR   a new database holding the user tables
//   kestrix_e2e_db drop CONNSTR     removes a PostgreSQL database
//   kestrix_e2e_db exec CONNSTR     runs the statements on stdin, one a line
//   kestrix_e2e_db query CONNSTR SQL  prints the rows, tab-separated, \N for NULL
#include <iostream>
#include <string>

#include "core/connection_string.h"
#include "core/database.h"
#include "core/schema.h"

namespace {

using kestrix::Database;
using kestrix::Engine;

int fail(const std::string& what) {
    std::cerr << "kestrix_e2e_db: " << what << "\n";
    return 1;
}

// The server's maintenance database, reached as the test's own user.
std::string maintenanceConnection(const kestrix::ConnectionTarget& target) {
    return "Provider=PostgreSQL;Data Source=" + target.host + (target.port.empty() ? "" : ":") +
           target.port + ";Initial Catalog=postgres;User ID=" + target.user +
           ";Password=" + target.password;
}

int create(const std::string& connection, const kestrix::ConnectionTarget& target) {
    if (target.engine == Engine::SQLite) {
        std::string error;
        return kestrix::createSqliteDatabaseFile(target.path, &error) ? 0 : fail(error);
    }
    Database admin;
    if (!admin.open(maintenanceConnection(target)))
        return fail("cannot reach the server: " + admin.lastError());
    for (const auto& statement :
         kestrix::dialectFor(Engine::PostgreSQL).createDatabaseStatements(target.database)) {
        if (!admin.execute(statement)) return fail(statement + ": " + admin.lastError());
    }
    admin.close();
    Database db;
    if (!db.open(connection) || !kestrix::createSchema(db))
        return fail("cannot create the tables: " + db.lastError());
    return 0;
}

int drop(const kestrix::ConnectionTarget& target) {
    if (target.engine == Engine::SQLite) return fail("a SQLite database is a file: remove it");
    Database admin;
    if (!admin.open(maintenanceConnection(target)))
        return fail("cannot reach the server: " + admin.lastError());
    if (!admin.execute("DROP DATABASE IF EXISTS " + target.database + " WITH (FORCE)"))
        return fail(admin.lastError());
    return 0;
}

int exec(const std::string& connection) {
    Database db;
    if (!db.open(connection)) return fail("cannot open " + connection + ": " + db.lastError());
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        if (!db.execute(line)) return fail(line + ": " + db.lastError());
    }
    return 0;
}

int query(const std::string& connection, const std::string& sql) {
    Database db;
    if (!db.open(connection)) return fail("cannot open " + connection + ": " + db.lastError());
    auto rows = db.query(sql);
    if (!rows) return fail(sql + ": " + db.lastError());
    for (; !rows->eof(); rows->moveNext()) {
        bool first = true;
        for (const auto& column : rows->columnNames()) {
            const auto value = rows->field(column);
            std::cout << (first ? "" : "\t") << (value ? *value : "\\N");
            first = false;
        }
        std::cout << "\n";
    }
    return rows->error().empty() ? 0 : fail(rows->error());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return fail("usage: kestrix_e2e_db create|drop|exec|query CONNSTR [SQL]");
    const std::string command = argv[1];
    const std::string connection = argv[2];
    const auto parsed = kestrix::parseConnectionString(connection);
    if (!parsed.target) return fail(parsed.error);
    if (command == "create") return create(connection, *parsed.target);
    if (command == "drop") return drop(*parsed.target);
    if (command == "exec") return exec(connection);
    if (command == "query" && argc == 4) return query(connection, argv[3]);
    return fail("unknown command " + command);
}

#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/connection_string.h"

namespace kestrix {

class Database;

// The user database: eight tables, shared by the program, the plug-in and
// the migration utility. One definition, rendered by each engine's dialect.
enum class ColumnKind {
    Text,       // sized text (size = characters)
    LongText,   // long text (512 and 256 characters on the server)
    FixedText,  // fixed-width text (size = characters)
    Integer,
    Real,     // floating point
    Numeric,  // exact number (bytes of quota)
};

struct ColumnDef {
    const char* name;
    ColumnKind kind;
    int size;  // characters, for the text kinds
    bool notNull;
};

struct TableDef {
    const char* name;
    std::vector<ColumnDef> columns;
};

// The eight tables in the order they are created.
const std::vector<TableDef>& userTables();

// The characters a text column of the user tables holds; 0 for a column
// that is not there or holds no text.
std::size_t columnCharacters(std::string_view table, std::string_view column);

// Engine-specific SQL: one dialect per engine.
class Dialect {
  public:
    virtual ~Dialect() = default;
    virtual Engine engine() const = 0;
    // Everything that makes an empty database hold the schema, in order.
    virtual std::vector<std::string> schemaStatements() const = 0;
    // The indexes on the user-name columns, each made only when missing;
    // part of schemaStatements too.
    virtual std::vector<std::string> indexStatements() const = 0;
    // Statements that create a new database of the given name on a server;
    // empty for an engine whose database is a file.
    virtual std::vector<std::string> createDatabaseStatements(std::string_view name) const = 0;
    // Statements that remove such a database again; empty for a file engine.
    virtual std::vector<std::string> dropDatabaseStatements(std::string_view name) const = 0;
};

const Dialect& dialectFor(Engine engine);

// The tables that hold a username column, users first.
std::vector<std::string> userNameTables();

// The statements that index every username column in the collation named.
// With uniqueUsers (new databases), the users table's index also refuses a
// name stored a second time in any spelling the collation takes as equal.
std::vector<std::string> userNameIndexStatements(std::string_view collation,
                                                 bool uniqueUsers = false);

// Runs the schema statements of the database's engine; false (with the
// database's lastError) at the first that fails.
bool createSchema(Database& db);

// Writes a new, empty SQLite database file holding the schema. False with a
// description when the file exists or cannot be made.
bool createSqliteDatabaseFile(const std::string& path, std::string* error);

}  // namespace kestrix

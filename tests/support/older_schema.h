#pragma once

#include <string>
#include <vector>

#include "core/connection_string.h"

namespace kestrix {
class Database;
}

namespace kestrix::test {

// The statements of the current schema as a database made before the
// foreign keys holds it: no keys, no owner column, and a users index that
// is not unique (such a database may hold a name twice).
std::vector<std::string> olderSchemaStatements(Engine engine);

// Takes the foreign keys of the per-user tables away from a database made
// with them, keeping its rows (SQLite: each table is made again without):
// for tests that then change users as only an older database allows.
void dropOwnerKeys(Database& db);

}  // namespace kestrix::test

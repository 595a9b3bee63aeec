#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/connection_string.h"

namespace kestrix {

class Database;

// A table whose rows belong to a users row: a foreign key with ON DELETE
// CASCADE ties them to it, so no row outlives its user. Tables whose "*"
// rows apply to every user tie a generated column instead (NULL for "*").
// The keys are checked at commit, so that a rename can move a user's rows
// after its row within one transaction.
struct OwnedTable {
    const char* table;
    const char* keyColumn;  // "username", or "owner" generated from it
    const char* entry;      // the column that tells one row from another
};
const std::vector<OwnedTable>& ownedTables();
const OwnedTable* ownedTable(std::string_view table);

// The foreign key's name on an owned table.
std::string ownerKeyName(const OwnedTable& owned);

// The statements that tie every owned table to users in a database made
// before the foreign keys (users' names must be unique there). `collation`
// is that of users.username on a server (empty: the default).
std::vector<std::string> ownerKeyStatements(Engine engine, std::string_view collation);

// Indexes on the generated key columns: without one, deleting or renaming
// a user reads the whole of every such table to find the rows it cascades to.
std::vector<std::string> ownerIndexStatements();

// Why a user lock was refused when its user is not stored (any more).
std::string userGoneMessage(const std::string& name);

// Why the last beginLocked or holdGuard of this thread on the database
// failed: the user gone, or the database's own description.
std::string lockFailure(const Database& db);

// A row of a per-user table whose user is not stored: left by a delete of
// an older program, or by a writer that raced one.
struct OrphanRow {
    std::string table;
    std::string username;
    std::string entry;  // the directory, file or address of the row
};

// Every orphan row, table by table. No value when the database refused
// (lastError). Rows of "*" belong to every user and are no orphans.
[[nodiscard]] std::optional<std::vector<OrphanRow>> findOrphans(Database& db);

// Removes every orphan row in one transaction that holds the users table
// against writers; the rows removed, or no value when refused (lastError).
[[nodiscard]] std::optional<std::vector<OrphanRow>> removeOrphans(Database& db);

// Whether every owned table is tied to users by its foreign key.
[[nodiscard]] std::optional<bool> hasOwnerKeys(Database& db);

// What adding the keys found.
struct OwnerKeysUpgrade {
    bool added = false;              // the keys were added now
    bool present = false;            // they were there already
    std::vector<OrphanRow> orphans;  // found first: nothing was added
    std::vector<std::string> twice;  // names stored more than once: nothing was added
    std::string failure;             // the database refused
};

// Adds the foreign keys, under the users table's lock, after looking for
// orphan rows and names stored twice (either leaves the database as it is).
OwnerKeysUpgrade addOwnerKeys(Database& db);

}  // namespace kestrix

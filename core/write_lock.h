#pragma once

#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

class Database;

// What a read-then-write holds for its transaction, so that writers of the
// same rows take turns instead of each rewriting what the other just wrote.
struct WriteLock {
    enum class Kind { Table, User };
    Kind kind = Kind::Table;
    std::string name;  // the table, or the user whose row is held

    static WriteLock table(std::string name) { return {Kind::Table, std::move(name)}; }
    static WriteLock user(std::string name) { return {Kind::User, std::move(name)}; }
};

// Begins a transaction that holds the lock until its commit or rollback.
// SQLite takes the whole file for writing at once (BEGIN IMMEDIATE), so a
// second writer waits at the start rather than failing at its first write;
// PostgreSQL locks the table against other writers, or the user's row.
// False (lastError set, nothing begun) when the lock could not be had.
[[nodiscard]] bool beginLocked(Database& db, const WriteLock& lock);

// What a write replaces of one user: some columns of the user's row, its
// directory rules, its blocked addresses.
struct UserParts {
    std::vector<std::string> columns;
    bool rules = false;
    bool blockedAddresses = false;
};

// Those parts as stored, as one text that differs whenever any of them does
// (a missing user reads as the empty text). No value when the database
// refused the query.
[[nodiscard]] std::optional<std::string> readUserVersion(Database& db, const std::string& user,
                                                         const UserParts& parts);
// The same, handing each rule row (directory, dir_rights, inherit_subdirs,
// comments) on as it is read, and each users row (the parts' columns), for
// a reader that shows them too and so reads them once.
[[nodiscard]] std::optional<std::string> readUserVersion(
    Database& db, const std::string& user, const UserParts& parts,
    const std::function<void(std::span<const std::optional<std::string_view>>)>& onRule,
    const std::function<void(std::span<const std::optional<std::string_view>>)>& onUser = {});

// A version read back as fields: the user's columns by name, each rule as
// "rule DIRECTORY" with its rights, inherit number and comment, each
// blocked address as "blocked ADDRESS". Empty for a missing user.
[[nodiscard]] std::map<std::string, std::optional<std::string>> versionFields(
    std::string_view version, const UserParts& parts);

// How a write makes sure it replaces what its administrator saw: the lock
// it holds, and the version of the user's parts it loaded (none: the write
// replaces nothing it read, so there is nothing to compare).
struct WriteGuard {
    WriteLock lock;
    std::string user;
    UserParts parts;
    std::optional<std::string> loaded;
};

enum class GuardResult {
    Held,     // the transaction is open under the lock and nothing changed
    Changed,  // someone else changed the parts; rolled back
    Failed,   // the database refused (lastError); rolled back
};

// Begins the transaction under the guard's lock and compares the version.
[[nodiscard]] GuardResult holdGuard(Database& db, const WriteGuard& guard);

}  // namespace kestrix

#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/password_hash.h"

namespace kestrix {

// What the program says while the column is too narrow for a hash.
inline constexpr const char* kClearTextPasswordsNotice =
    "Passwords are stored in clear text in this database: run kestrix db upgrade "
    "--hash-passwords";

// Says once per run of the program that passwords are stored in clear: in
// the activity log and to the handler set (the main window's line, kestrix's
// standard error).
void noteClearTextPasswords();
// Another database is in use: its column is said again when narrow.
void forgetClearTextNotice();
void setClearTextNoticeHandler(std::function<void(const std::string&)> handler);

// The stored form of a new password in the open database, noting a column
// too narrow for a hash. No value when no hash could be made.
std::optional<PasswordToStore> passwordToStore(Database& db, std::string_view password);

// Start-up's look at what the stored connection string leads to: a line
// (also in the activity log) for a database file or settings store anyone
// may read. A password column too narrow for hashes is noted as
// noteClearTextPasswords does, not returned.
std::vector<std::string> startupSecurityNotices();

// The width users.password gets in a new database and by an upgrade.
std::size_t passwordColumnTarget();

// What an upgrade of users.password did.
struct PasswordUpgrade {
    std::size_t widthBefore = 0;  // kUnlimitedWidth for unsized text
    bool widened = false;
    std::size_t hashed = 0;       // plain passwords replaced by their hash
    std::size_t strong = 0;       // already a slow hash
    std::size_t olderHashes = 0;  // {SMD5}, DES, MD5- or SHA-crypt: replaced at their next login
    std::size_t changedMeanwhile = 0;  // plain when read, set anew before the hash went in
    std::size_t empty = 0;             // NULL or empty: nothing to hash
    std::string failure;               // empty when everything was done
};

// Widens users.password to passwordColumnTarget() where it is narrower
// (PostgreSQL widens a varchar without rewriting the table; SQLite's
// declaration is rewritten in place) and, with hashPlain, replaces every
// plain password by its hash in one transaction.
PasswordUpgrade upgradePasswordColumn(Database& db, bool hashPlain);

}  // namespace kestrix

#include "core/password_storage.h"

#include <cctype>
#include <mutex>
#include <vector>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/private_files.h"
#include "core/schema.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "core/stored_password.h"

namespace kestrix {

namespace {

std::mutex noticeMutex;
bool noticeGiven = false;
std::function<void(const std::string&)> noticeHandler;

}  // namespace

void setClearTextNoticeHandler(std::function<void(const std::string&)> handler) {
    const std::lock_guard lock(noticeMutex);
    noticeHandler = std::move(handler);
}

void noteClearTextPasswords() {
    std::function<void(const std::string&)> handler;
    {
        const std::lock_guard lock(noticeMutex);
        if (noticeGiven) return;
        noticeGiven = true;
        handler = noticeHandler;
    }
    writeLog(kClearTextPasswordsNotice);
    if (handler) handler(kClearTextPasswordsNotice);
}

void forgetClearTextNotice() {
    const std::lock_guard lock(noticeMutex);
    noticeGiven = false;
}

std::optional<PasswordToStore> passwordToStore(Database& db, std::string_view password) {
    // A width that cannot be read is taken as room for the hash: the
    // database refuses what does not fit rather than keep plain text.
    const std::size_t width = passwordColumnWidth(db).value_or(kUnlimitedWidth);
    auto stored = passwordToStore(password, width);
    if (stored && !stored->hashed) noteClearTextPasswords();
    return stored;
}

std::vector<std::string> startupSecurityNotices() {
    std::vector<std::string> notices;
    const auto warn = [&notices](const std::string& what, const std::string& path) {
        notices.push_back(what + " " + path +
                          " can be read by every user of this computer: make it readable by "
                          "its owner alone (chmod o-rwx).");
        writeLog(notices.back());
    };
    const SettingsStore store = SettingsStore::fromEnvironment();
    const auto storeFile = store.valueFile(kConnectionStringKey, {});
    if (readableByEveryone(storeFile)) warn("The settings store's connection string", storeFile);
    const ParsedConnection parsed = parseConnectionString(readConnectionString());
    if (parsed.target && parsed.target->engine == Engine::SQLite &&
        readableByEveryone(parsed.target->path))
        warn("The database file", parsed.target->path);
    Database db;
    if (openDatabase(db, 1)) {
        const auto width = passwordColumnWidth(db);
        if (width && *width < hashedPasswordCharacters()) noteClearTextPasswords();
    }
    return notices;
}

std::size_t passwordColumnTarget() {
    return columnCharacters("users", "password");
}

namespace {

// The users table's declaration with the password column's width set to
// the target; empty when the declaration holds no sized password column.
std::string widenedDeclaration(const std::string& sql, std::size_t width) {
    std::string lower = sql;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t at = 0;
    while ((at = lower.find("password", at)) != std::string::npos) {
        const bool startsName =
            at == 0 ||
            !(std::isalnum(static_cast<unsigned char>(lower[at - 1])) || lower[at - 1] == '_');
        std::size_t end = at + 8;
        if (end < lower.size() && (lower[end] == '"' || lower[end] == ']' || lower[end] == '`'))
            ++end;
        at += 8;
        if (!startsName || end >= lower.size() ||
            !std::isspace(static_cast<unsigned char>(lower[end])))
            continue;
        const std::size_t open = lower.find('(', end);
        const std::size_t stop = lower.find_first_of(",)", end);
        if (open == std::string::npos || (stop != std::string::npos && stop < open)) return {};
        const std::size_t close = lower.find(')', open);
        if (close == std::string::npos) return {};
        return sql.substr(0, open + 1) + std::to_string(width) + sql.substr(close);
    }
    return {};
}

bool widenSqlite(Database& db, std::size_t width, std::string& failure) {
    auto rows = db.query("select sql from sqlite_master where type='table' and name='users'");
    if (!rows || rows->eof()) {
        failure = rows ? "the database has no users table" : db.lastError();
        return false;
    }
    const std::string declaration = widenedDeclaration(rows->text("sql"), width);
    rows.reset();
    if (declaration.empty()) {
        failure = "the users table's declaration names no sized password column";
        return false;
    }
    auto version = db.query("pragma schema_version");
    if (!version || version->eof()) {
        failure = db.lastError();
        return false;
    }
    const long long next = version->integer("schema_version").value_or(0) + 1;
    version.reset();
    // Only the declared width changes: SQLite stores the rows alike whatever
    // width a text column declares, so the table is not rewritten.
    if (!db.begin()) {
        failure = db.lastError();
        return false;
    }
    const bool done =
        db.execute("pragma writable_schema=on") &&
        db.executeBound("update sqlite_master set sql=:v1 where type='table' and name='users'",
                        {declaration}) &&
        db.execute("pragma schema_version=" + std::to_string(next)) &&
        db.execute("pragma writable_schema=off");
    if (!done) {
        failure = db.lastError();
        db.rollback();
        (void)db.execute("pragma writable_schema=off");
        return false;
    }
    if (!db.commit()) {
        failure = db.lastError();
        db.rollback();
        return false;
    }
    return true;
}

}  // namespace

PasswordUpgrade upgradePasswordColumn(Database& db, bool hashPlain) {
    PasswordUpgrade out;
    const auto width = passwordColumnWidth(db);
    if (!width) {
        out.failure = "the width of users.password could not be read: " + db.lastError();
        return out;
    }
    out.widthBefore = *width;
    const std::size_t target = passwordColumnTarget();
    if (*width < target) {
        if (db.engine() == Engine::PostgreSQL) {
            if (!db.execute("alter table users alter column password type varchar(" +
                            std::to_string(target) + ")")) {
                out.failure = "could not widen users.password: " + db.lastError();
                return out;
            }
        } else if (!widenSqlite(db, target, out.failure)) {
            out.failure = "could not widen users.password: " + out.failure;
            return out;
        }
        out.widened = true;
    }
    if (!hashPlain) return out;

    struct Row {
        std::string name;
        std::string password;
    };
    std::vector<Row> plain;
    const bool read =
        db.readText("select username, password from users", {}, 2, [&](const Database::TextRow& r) {
            if (!r[1] || r[1]->empty()) {
                ++out.empty;
            } else if (!isWeakPasswordForm(*r[1])) {
                ++out.strong;
            } else if (storedPasswordForm(*r[1]) != PasswordForm::Plain) {
                ++out.olderHashes;
            } else {
                plain.push_back({r[0].value_or(""), *r[1]});
            }
        });
    if (!read) {
        out.failure = "could not read the passwords: " + db.lastError();
        return out;
    }
    const std::string update =
        std::string("update users set password=:v1 where username=:v2 collate ") +
        (db.engine() == Engine::PostgreSQL ? "\"C\"" : "binary") + " and password=:v3";
    if (!db.begin()) {
        out.failure = db.lastError();
        return out;
    }
    for (const Row& row : plain) {
        const auto hash = hashPassword(row.password);
        if (!hash) {
            out.failure = "a password could not be hashed";
        } else if (long long changed = 0;
                   !db.executeBound(update, {*hash, row.name, row.password}, &changed)) {
            out.failure =
                "could not store the hash of " + row.name + "'s password: " + db.lastError();
        } else if (changed == 0) {
            // A new password came meanwhile, by a route that hashes it.
            ++out.changedMeanwhile;
        }
        if (!out.failure.empty()) {
            db.rollback();
            return out;
        }
    }
    if (!db.commit()) {
        out.failure = "could not commit the hashes: " + db.lastError();
        db.rollback();
        return out;
    }
    out.hashed = plain.size() - out.changedMeanwhile;
    return out;
}

}  // namespace kestrix

#include "core/write_lock.h"

#include <charconv>

#include "core/database.h"
#include "core/owner_keys.h"

namespace kestrix {

namespace {

// The user a user lock of this thread last found gone, with the database
// it asked: beginLocked's answer has no room for the reason.
thread_local const Database* goneFrom = nullptr;
thread_local std::string goneUser;

}  // namespace

std::string lockFailure(const Database& db) {
    return goneFrom == &db ? userGoneMessage(goneUser) : db.lastError();
}

bool beginLocked(Database& db, const WriteLock& lock) {
    goneFrom = nullptr;
    if (db.engine() == Engine::SQLite) {
        if (!db.execute("BEGIN IMMEDIATE")) return false;
    } else if (!db.begin()) {
        return false;
    }
    bool held = true;
    if (lock.kind == WriteLock::Kind::Table) {
        // Share row exclusive conflicts with itself and with every write, yet
        // lets readers (the plug-in) go on.
        if (db.engine() == Engine::PostgreSQL)
            held = db.execute("LOCK TABLE " + lock.name + " IN SHARE ROW EXCLUSIVE MODE");
    } else {
        // Every lock on one user first takes the users table in a mode that
        // admits other users' writers but waits for a writer of names (which
        // holds the table): both kinds then lock in the same order. The row
        // must be there: a row lock on nothing holds nothing, and a user
        // deleted meanwhile must not get new rows.
        bool found = false;
        const std::string row = db.engine() == Engine::PostgreSQL
                                    ? "SELECT username FROM users WHERE username=:v1 FOR UPDATE"
                                    : "SELECT username FROM users WHERE username=:v1";
        held = (db.engine() == Engine::SQLite ||
                db.execute("LOCK TABLE users IN ROW EXCLUSIVE MODE")) &&
               db.readColumn(row, {lock.name}, [&](Database::ValueView) { found = true; });
        if (held && !found) {
            db.rollback();
            goneFrom = &db;
            goneUser = lock.name;
            return false;
        }
    }
    if (!held) {
        db.rollback();
        return false;
    }
    return true;
}

namespace {

// Each value with its length, so that no two different sets of values
// read as the same text; NULL apart from every text.
void append(std::string& out, Database::ValueView value) {
    if (!value) {
        out += "N;";
        return;
    }
    char length[24];
    const auto end = std::to_chars(length, length + sizeof length, value->size()).ptr;
    out.append(length, end);
    out += ':';
    out += *value;
    out += ';';
}

}  // namespace

std::optional<std::string> readUserVersion(Database& db, const std::string& user,
                                           const UserParts& parts) {
    return readUserVersion(db, user, parts, {});
}

std::optional<std::string> readUserVersion(
    Database& db, const std::string& user, const UserParts& parts,
    const std::function<void(std::span<const std::optional<std::string_view>>)>& onRule,
    const std::function<void(std::span<const std::optional<std::string_view>>)>& onUser) {
    std::string version;
    const auto onRow = [&](Database::RowView row) {
        for (const Database::ValueView& value : row)
            append(version, value);
        version += '\n';
    };
    if (!parts.columns.empty()) {
        std::string columns;
        for (const std::string& column : parts.columns)
            columns += (columns.empty() ? "" : ", ") + column;
        version += "users\n";
        if (!db.readViews("select " + columns + " from users where username=:v1 order by username",
                          {user}, parts.columns.size(), [&](Database::RowView row) {
                              onRow(row);
                              if (onUser) onUser(row);
                          }))
            return std::nullopt;
    }
    if (parts.rules) {
        // Every column, in the order the rows are stored, which is the
        // order the plug-in weighs them in.
        version += "rules\n";
        if (!db.readViews("select directory, dir_rights, inherit_subdirs, comments from "
                          "dir_rights where username=:v1",
                          {user}, 4, [&](Database::RowView row) {
                              onRow(row);
                              if (onRule) onRule(row);
                          }))
            return std::nullopt;
    }
    if (parts.blockedAddresses) {
        version += "blocked\n";
        if (!db.readViews("select ip from blocked_ips_by_user where username=:v1 order by ip",
                          {user}, 1, onRow))
            return std::nullopt;
    }
    return version;
}

namespace {

// The values of one row as append wrote them; none when the text is not
// such a row.
std::optional<std::vector<std::optional<std::string>>> rowValues(std::string_view& text) {
    std::vector<std::optional<std::string>> values;
    while (!text.empty() && text.front() != '\n') {
        if (text.starts_with("N;")) {
            values.emplace_back();
            text.remove_prefix(2);
            continue;
        }
        const std::size_t colon = text.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        std::size_t length = 0;
        for (char c : text.substr(0, colon)) {
            if (c < '0' || c > '9') return std::nullopt;
            length = length * 10 + static_cast<std::size_t>(c - '0');
        }
        text.remove_prefix(colon + 1);
        if (text.size() < length + 1 || text[length] != ';') return std::nullopt;
        values.emplace_back(std::string(text.substr(0, length)));
        text.remove_prefix(length + 1);
    }
    if (text.empty()) return std::nullopt;
    text.remove_prefix(1);
    return values;
}

}  // namespace

std::map<std::string, std::optional<std::string>> versionFields(std::string_view version,
                                                                const UserParts& parts) {
    std::map<std::string, std::optional<std::string>> fields;
    std::string section;
    while (!version.empty()) {
        for (const char* name : {"users\n", "rules\n", "blocked\n"}) {
            if (version.starts_with(name)) {
                section = std::string(name, std::string_view(name).size() - 1);
                version.remove_prefix(section.size() + 1);
            }
        }
        if (version.empty() || version.starts_with("rules\n") || version.starts_with("blocked\n"))
            continue;
        const auto row = rowValues(version);
        if (!row) break;
        const auto text = [&](std::size_t i) { return i < row->size() ? (*row)[i] : std::nullopt; };
        if (section == "users") {
            for (std::size_t i = 0; i < parts.columns.size(); ++i)
                fields[parts.columns[i]] = text(i);
        } else if (section == "rules") {
            std::string key = "rule " + text(0).value_or("");
            // A directory listed twice keeps both rows apart.
            while (fields.contains(key))
                key += " (again)";
            std::string value = text(1).value_or("") + ", inherit " + text(2).value_or("0");
            if (text(3)) value += ", " + *text(3);
            fields[key] = value;
        } else if (section == "blocked") {
            fields["blocked " + text(0).value_or("")] = std::string("blocked");
        }
    }
    return fields;
}

GuardResult holdGuard(Database& db, const WriteGuard& guard) {
    if (!beginLocked(db, guard.lock)) return GuardResult::Failed;
    if (!guard.loaded) return GuardResult::Held;
    const auto now = readUserVersion(db, guard.user, guard.parts);
    if (!now) {
        db.rollback();
        return GuardResult::Failed;
    }
    if (*now == *guard.loaded) return GuardResult::Held;
    db.rollback();
    return GuardResult::Changed;
}

}  // namespace kestrix

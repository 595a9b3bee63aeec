#include "core/schema.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/database.h"
#include "core/private_files.h"

namespace kestrix {

namespace {

using K = ColumnKind;

ColumnDef username(bool notNull = true) {
    return {"username", K::Text, 50, notNull};
}
ColumnDef comments() {
    return {"comments", K::LongText, 256, false};
}

}  // namespace

const std::vector<TableDef>& userTables() {
    static const std::vector<TableDef> tables = {
        {"blocked_ips", {{"ip", K::Text, 15, true}, comments()}},
        {"dir_rights",
         {username(),
          {"directory", K::LongText, 512, true},
          {"dir_rights", K::Text, 8, true},
          {"inherit_subdirs", K::Integer, 0, true},
          comments()}},
        {"file_rights",
         {username(),
          {"filename", K::LongText, 512, true},
          {"file_rights", K::FixedText, 5, true},
          comments()}},
        {"log_ips", {{"ip", K::Text, 15, true}, comments()}},
        {"ratio_free_files", {username(), {"filename", K::LongText, 512, true}, comments()}},
        {"sign_files",
         {{"ip", K::Text, 15, true},
          {"signon_msg_file", K::LongText, 512, false},
          {"signoff_msg_file", K::LongText, 512, false},
          comments()}},
        {"users",
         {username(),
          {"homedir", K::LongText, 512, true},
          {"login_msg_file", K::LongText, 512, false},
          {"password", K::Text, 255, false},  // room for a hash
          {"hide_hidden_files", K::Integer, 0, false},
          {"rel_path", K::Integer, 0, false},
          {"ratio_type", K::Text, 15, false},
          {"ratio_down", K::Integer, 0, false},
          {"ratio_up", K::Integer, 0, false},
          {"ratio_current_credit", K::Real, 0, false},
          {"use_quota", K::Integer, 0, false},
          {"quota_max", K::Numeric, 0, false},
          {"quota_current", K::Numeric, 0, false},
          {"always_login", K::Integer, 0, false},
          {"one_login_per_ip", K::Integer, 0, false},
          {"speed_limit_value", K::Text, 128, false},
          {"timeout", K::Integer, 0, false},
          {"maintenance", K::Text, 8, false},
          {"session_timeout", K::Integer, 0, false},
          {"max_concurrent", K::Integer, 0, true},
          {"max_logins_per_ip", K::Integer, 0, true},
          {"disable_user", K::Integer, 0, false},
          comments(),
          {"Expires", K::Text, 50, false},
          {"DisableOn", K::Text, 50, false}}},
        {"blocked_ips_by_user", {username(), {"ip", K::Text, 15, true}, comments()}},
    };
    return tables;
}

std::size_t columnCharacters(std::string_view table, std::string_view column) {
    for (const TableDef& t : userTables()) {
        if (std::string_view(t.name) != table) continue;
        for (const ColumnDef& c : t.columns) {
            if (std::string_view(c.name) == column && c.kind != ColumnKind::Integer &&
                c.kind != ColumnKind::Real && c.kind != ColumnKind::Numeric)
                return static_cast<std::size_t>(c.size);
        }
    }
    return 0;
}

std::vector<std::string> userNameTables() {
    std::vector<std::string> names{"users"};
    for (const TableDef& table : userTables()) {
        const std::string name = table.name;
        if (name != "users" && std::string_view(table.columns.front().name) == "username")
            names.push_back(name);
    }
    return names;
}

std::vector<std::string> userNameIndexStatements(std::string_view collation, bool uniqueUsers) {
    // Not unique unless asked: older databases may hold a name twice.
    std::vector<std::string> statements;
    for (const std::string& table : userNameTables()) {
        const bool unique = uniqueUsers && table == "users";
        statements.push_back(std::string(unique ? "CREATE UNIQUE INDEX" : "CREATE INDEX") +
                             " IF NOT EXISTS " + table + "_username_idx ON " + table +
                             " (username COLLATE " + std::string(collation) + ")");
    }
    return statements;
}

bool createSchema(Database& db) {
    for (const std::string& statement : dialectFor(db.engine()).schemaStatements()) {
        if (!db.execute(statement)) return false;
    }
    return true;
}

bool createSqliteDatabaseFile(const std::string& path, std::string* error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (error) *error = "The file \"" + path + "\" already exists.";
        return false;
    }
    // Made private before anything is in it; SQLite gives its journal the
    // mode of the database file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || !makePrivate(path, PrivateKind::Database)) {
        const int code = errno;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path.c_str());
        }
        if (error) *error = "Could not create \"" + path + "\": " + std::strerror(code);
        return false;
    }
    ::close(fd);
    sqlite3* handle = nullptr;
    const int opened =
        sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    bool ok = opened == SQLITE_OK;
    std::string failure = ok ? std::string() : sqlite3_errstr(opened);
    if (ok) {
        std::string script = "BEGIN;";
        for (const auto& statement : dialectFor(Engine::SQLite).schemaStatements()) {
            script += statement + ";";
        }
        script += "COMMIT;";
        char* message = nullptr;
        ok = sqlite3_exec(handle, script.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
        if (!ok) failure = message ? message : "unknown error";
        sqlite3_free(message);
    }
    sqlite3_close(handle);
    if (!ok) {
        ::unlink(path.c_str());
        if (error) *error = "Could not create \"" + path + "\": " + failure;
    }
    return ok;
}

}  // namespace kestrix

namespace kestrix {

const Dialect& sqliteDialect();
const Dialect& postgresDialect();

const Dialect& dialectFor(Engine engine) {
    return engine == Engine::SQLite ? sqliteDialect() : postgresDialect();
}

}  // namespace kestrix

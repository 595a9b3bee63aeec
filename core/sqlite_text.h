#pragma once

#include <soci/sqlite3/soci-sqlite3.h>

#include <string_view>

namespace kestrix {

struct SqliteText {
    bool null = true;
    std::string_view text;   // valid until the statement steps again
    int type = SQLITE_NULL;  // as stored, before the conversion to text
    double real = 0;         // the value, when it is a real number
};

// A column of the current row as text, numbers written as SQLite writes
// them. Every call into a statement takes the connection's lock; here only
// the fetch of the value does, and the conversion to text is made on the
// value itself. A connection is used by one thread at a time.
inline SqliteText sqliteColumnText(sqlite_api::sqlite3_stmt* statement, int column) {
    sqlite_api::sqlite3_value* value = sqlite_api::sqlite3_column_value(statement, column);
    if (value == nullptr) return {};
    SqliteText result;
    result.type = sqlite_api::sqlite3_value_type(value);
    if (result.type == SQLITE_NULL) return result;
    result.null = false;
    if (result.type == SQLITE_FLOAT) result.real = sqlite_api::sqlite3_value_double(value);
    const auto* text = sqlite_api::sqlite3_value_text(value);
    if (text == nullptr) return result;
    const int bytes = sqlite_api::sqlite3_value_bytes(value);
    result.text =
        std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes));
    return result;
}

// Holds a connection's own lock across a read of many rows. SQLite takes
// it inside every call; held already, taking it again is a count kept by
// this thread rather than an atomic operation on each call.
class SqliteConnectionLock {
  public:
    explicit SqliteConnectionLock(sqlite_api::sqlite3* connection)
        : mutex_(connection != nullptr ? sqlite_api::sqlite3_db_mutex(connection) : nullptr) {
        sqlite_api::sqlite3_mutex_enter(mutex_);
    }
    ~SqliteConnectionLock() { sqlite_api::sqlite3_mutex_leave(mutex_); }
    SqliteConnectionLock(const SqliteConnectionLock&) = delete;
    SqliteConnectionLock& operator=(const SqliteConnectionLock&) = delete;

  private:
    sqlite_api::sqlite3_mutex* mutex_;
};

}  // namespace kestrix

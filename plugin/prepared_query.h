#pragma once

#include <soci/soci.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/connection_string.h"
#include "core/pg_native.h"
#include "core/sqlite_text.h"

namespace kestrix::plugin {

// A text the database cannot take as it is: PostgreSQL refuses bytes that
// are not UTF-8. Thrown before the statement runs; the statement then fails
// as it would have on the server, without a round trip.
struct UnsendableText : std::runtime_error {
    UnsendableText() : std::runtime_error("text that is not UTF-8") {}
};

// The text, or UnsendableText when the engine cannot take it.
std::string_view sendable(Engine engine, std::string_view text);

// A SELECT prepared once on a connection, with at most one text parameter
// and a fixed number of columns, every column read as text when it is first
// asked for on a row: a caller that looks at one column of most rows does
// not pay for the others. The parameter
// is bound, never spliced: the database compares it exactly as it would
// compare the same value written as an SQL text literal. Both engines are
// read through their own interfaces: the library's type conversions for
// every column of every row cost more than the read.
class PreparedQuery {
  public:
    PreparedQuery(soci::session& session, Engine engine, const std::string& sql,
                  std::size_t columns, bool hasParameter);
    ~PreparedQuery();
    PreparedQuery(const PreparedQuery&) = delete;
    PreparedQuery& operator=(const PreparedQuery&) = delete;

    // The current row's column; no value for a database NULL. Asked for
    // while the row is being read (inside run's onRow).
    [[nodiscard]] std::optional<std::string> column(std::size_t i) const;
    // The same kept here: valid until the next row; nullptr for NULL.
    [[nodiscard]] const std::string* text(std::size_t i) const;
    // The same in the engine's own memory, without a copy: valid until the
    // next row; no value for NULL.
    [[nodiscard]] std::optional<std::string_view> view(std::size_t i) const;

    // Runs the query and calls onRow for each row until it returns false.
    // Throws what the database reports, in its words.
    template <class OnRow>
    void run(std::string_view parameter, OnRow&& onRow) {
        parameter_.assign(sendable(engine_, parameter));
        const SqliteConnectionLock lock(sqliteConnection());
        Finisher finisher{*this};
        start();
        while (step() && onRow()) {
        }
    }

  private:
    // Ends the statement's read when the caller stops early, so that an
    // engine that keeps a read open on an unfinished statement releases it.
    struct Finisher {
        PreparedQuery& query;
        ~Finisher() { query.finish(); }
    };
    // The SQLite connection, held for a whole run; nullptr on PostgreSQL.
    sqlite_api::sqlite3* sqliteConnection() const;
    void start();
    // Moves to the next row; false at the end.
    bool step();
    // Reads column i of the current row into views_ (and values_ for a
    // number SQLite would otherwise write out in memory of its own).
    void read(std::size_t i) const;
    void finish() noexcept;

    Engine engine_;
    bool hasParameter_;
    std::string parameter_;
    // The columns of the current row read so far.
    enum class Column : char { Unread, View, Kept, Null };
    mutable std::vector<std::string_view> views_;
    mutable std::vector<std::string> values_;  // of the Kept columns
    mutable std::vector<Column> columns_;
    bool onRow_ = false;
    void* sqlite_ = nullptr;  // the SQLite statement, on SQLite
    // On PostgreSQL: the statement, and the rows of the current run.
    std::unique_ptr<pg::NamedStatement> named_;
    pg::Result result_;
    int nextRow_ = 0;
};

// An UPDATE prepared once on a connection. It reads its variables, in the
// order of its placeholders, at each run: the caller sets them before.
class PreparedUpdate {
  public:
    using Variable = std::variant<std::string*, long long*>;
    PreparedUpdate(soci::session& session, Engine engine, const std::string& sql,
                   std::vector<Variable> variables);
    ~PreparedUpdate();
    PreparedUpdate(const PreparedUpdate&) = delete;
    PreparedUpdate& operator=(const PreparedUpdate&) = delete;

    // Runs the statement; the number of rows it changed. Throws what the
    // database reports, in its words.
    [[nodiscard]] long long run();

  private:
    std::vector<Variable> variables_;
    // Through SOCI on SQLite, through libpq on PostgreSQL.
    std::unique_ptr<soci::statement> statement_;
    std::unique_ptr<pg::NamedStatement> named_;
    std::vector<std::string> numbers_;  // the numbers as text, while a run lasts
};

}  // namespace kestrix::plugin

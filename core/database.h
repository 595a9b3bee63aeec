#pragma once

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/connection_string.h"

namespace soci {
class session;
}

namespace kestrix {

// A query's rows, read forward only, columns found by name without regard to
// case. It reads through its Database's connection and must not outlive it.
class RecordSet {
  public:
    RecordSet();
    RecordSet(RecordSet&&) noexcept;
    RecordSet& operator=(RecordSet&&) noexcept;
    ~RecordSet();

    bool eof() const;
    void moveNext();

    // The column's value as text; no value for a database NULL. A column
    // that the query does not return is no value too (see hasColumn).
    std::optional<std::string> field(std::string_view column) const;
    // The same with NULL read as the empty text.
    std::string text(std::string_view column) const;
    std::optional<long long> integer(std::string_view column) const;
    std::optional<double> number(std::string_view column) const;

    bool hasColumn(std::string_view column) const;
    const std::vector<std::string>& columnNames() const;
    // Set when reading a further row failed (the set then reads as ended).
    const std::string& error() const;

  private:
    friend class Database;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One database session: a connection opened with a connection string, the
// statements run on it, and the provider's description of the last failure.
class Database {
  public:
    Database();
    Database(Database&&) noexcept;
    Database& operator=(Database&&) noexcept;
    ~Database();

    [[nodiscard]] bool open(std::string_view connectionString, const TimeLimits& limits = {});
    void close();
    bool isOpen() const;
    Engine engine() const;

    // Runs a statement that returns no rows. False on failure (see lastError).
    // With affectedRows, also tells how many rows it changed.
    [[nodiscard]] bool execute(std::string_view sql, long long* affectedRows = nullptr);
    // Runs a query. No value on failure (see lastError).
    [[nodiscard]] std::optional<RecordSet> query(std::string_view sql);

    // Values for a statement's placeholders (:v1, :v2, ... in order); no
    // value binds NULL. Bound, a value is never read as SQL.
    using BoundValues = std::vector<std::optional<std::string>>;
    // execute with the values bound. The statement is prepared at its first
    // run on this connection and kept until the connection closes, so a
    // statement run again with other values is not parsed again.
    [[nodiscard]] bool executeBound(std::string_view sql, const BoundValues& values,
                                    long long* affectedRows = nullptr);
    // query with the values bound.
    [[nodiscard]] std::optional<RecordSet> queryBound(std::string_view sql,
                                                      const BoundValues& values);

    // One row of readText: its columns in order, NULL as no value.
    using TextRow = std::vector<std::optional<std::string>>;
    // Reads a long list quickly: every row of a query of `columns` columns,
    // each column read as text, many rows per fetch, handed to onRow in
    // order. False on failure (see lastError); rows before it were handed on.
    [[nodiscard]] bool readText(std::string_view sql, const BoundValues& values,
                                std::size_t columns,
                                const std::function<void(const TextRow&)>& onRow);

    // readText without copies: each row's values as the engine holds them,
    // valid during the call (no value for NULL).
    using ValueView = std::optional<std::string_view>;
    using RowView = std::span<const ValueView>;
    [[nodiscard]] bool readViews(std::string_view sql, const BoundValues& values,
                                 std::size_t columns, const std::function<void(RowView)>& onRow);
    // The same for a query of one column.
    [[nodiscard]] bool readColumn(std::string_view sql, const BoundValues& values,
                                  const std::function<void(ValueView)>& onValue);

    [[nodiscard]] bool begin();
    [[nodiscard]] bool commit();
    bool rollback();

    // The provider's description of the last failure, without the statement.
    const std::string& lastError() const;

    // The widths of the columns read so far from this connection's schema
    // (see columnWidth), kept until the connection closes.
    std::map<std::string, std::optional<std::size_t>>& columnWidths();

    // The underlying session, for prepared statements. Valid while open.
    soci::session& session();

    // A PostgreSQL session that finds its connection broken (the server
    // stopped, a standby promoted in its place) connects again, to whichever
    // server of the connection string accepts writes, so that the next
    // statement runs there. The statement that found the break fails unless
    // it only reads outside a transaction; a transaction that broke fails
    // to its end (rollback or commit), nothing of it stored.
    void reconnectAfterBreak(bool on);

  private:
    std::optional<RecordSet> runQueryOnce(std::string_view sql, const BoundValues& values);
    // Whether a statement may run; connects again first after a break.
    bool beforeStatement();
    // After a failed statement: whether the connection broke.
    bool connectionBroke();
    // Tells a break in the last error (for a statement that `changes`, that
    // it may have taken effect) and connects again; true when a statement
    // that changed nothing may be repeated on the new connection.
    bool afterFailure(bool changes);
    bool reconnect();

    bool readThroughSoci(std::string_view sql, const BoundValues& values, std::size_t columns,
                         const std::function<void(const TextRow&)>& onRow);
    template <class OnRow>
    bool forEachRowView(std::string_view sql, const BoundValues& values, std::size_t columns,
                        OnRow&& onRow);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// What a failure says when an SQLite file stayed busy for the whole of the
// connection's wait (TimeLimits::busySeconds): another program is writing.
inline constexpr const char* kDatabaseBusyMessage =
    "Another program is writing the database and did not finish within a few seconds. Please "
    "try again in a moment.";

// The provider's description of a failure thrown by the underlying session,
// without the statement or the values it quoted.
std::string describeFailure(const std::exception& e);

// Answers the interactive open failure; the program shell puts its dialogue
// here. The core itself never shows anything.
class OpenFailureHandler {
  public:
    virtual ~OpenFailureHandler() = default;
    virtual void interactiveOpenFailed(const std::string& description) = 0;
};

void setOpenFailureHandler(OpenFailureHandler* handler);

// Opens the database named by the stored connection string. Mode 1 is
// silent; any other mode hands a failure to the OpenFailureHandler. True
// when the connection is usable. The session reconnects after a break.
[[nodiscard]] bool openDatabase(Database& db, int mode);
void closeDatabase(Database& db);

}  // namespace kestrix

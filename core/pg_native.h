#pragma once

#include <libpq-fe.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace soci {
class session;
}

// Statements run through libpq on the connection SOCI opened: SOCI's
// conversions of every value cost more than a short read.
namespace kestrix::pg {

// The connection of a PostgreSQL session; nullptr when it has none.
PGconn* connection(soci::session& session);

// A statement with its named placeholders (:u, :v1, ...) numbered $1, $2,
// ... in the order they appear, as SOCI numbers them: each appearance is
// the next parameter. Quoted text and names, :: casts and := stay as
// written.
struct NumberedSql {
    std::string sql;
    int parameters = 0;
};
NumberedSql numberPlaceholders(std::string_view sql);

struct ResultClear {
    void operator()(PGresult* result) const noexcept { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClear>;

// A result that ran: rows or a command's completion.
bool succeeded(const PGresult* result);

// What went wrong, in the words SOCI gives the same failure ("Cannot
// execute query. Fatal error. ERROR:  ..."), without the lines in which
// PostgreSQL quotes the statement or the row.
std::string failureText(std::string_view context, PGconn* conn, const PGresult* result);

// The message without its lines that quote the statement or the values:
// either may hold a password.
std::string withoutQuotedValues(std::string_view message);

// True while a statement can still be sent: connected, and not inside a
// transaction that already failed.
bool canSend(PGconn* conn);

// A statement prepared once on a connection under a name of its own,
// freed on the server when it goes while the connection can still take
// that. It must not outlive its connection.
class NamedStatement {
  public:
    // Throws std::runtime_error with PostgreSQL's words when refused.
    NamedStatement(PGconn* conn, std::string_view sql, int parameters);
    ~NamedStatement();
    NamedStatement(const NamedStatement&) = delete;
    NamedStatement& operator=(const NamedStatement&) = delete;

    // Runs it with the values as text, nullptr for NULL; throws
    // std::runtime_error with PostgreSQL's words when refused.
    [[nodiscard]] Result run(const char* const* values) const;

    // The connection is about to close, which frees the statement on the
    // server anyway: going, it sends nothing.
    void leaveToConnection() { conn_ = nullptr; }

  private:
    PGconn* conn_;
    std::string name_;
    int parameters_;
};

// Texts in statement order; no value is NULL.
using Texts = std::vector<std::optional<std::string>>;

// The values as libpq takes them, valid while `values` lives.
std::vector<const char*> textPointers(const Texts& values);

// The rows a command changed.
long long rowsChanged(const PGresult* result);

// A value of a result as libpq holds it; no value for NULL.
std::optional<std::string_view> value(const PGresult* result, int row, int column);

// Runs a query of at least `columns` columns with the values bound as
// text: its rows, or nullptr with `failure` set when it was refused.
Result runQuery(PGconn* conn, std::string_view sql, const Texts& values, std::size_t columns,
                std::string& failure);

// Appends a value in the text form of COPY FROM STDIN (no value is NULL);
// NUL never reaches here.
void appendCopyValue(std::string& out, const std::optional<std::string>& value);

}  // namespace kestrix::pg

#include "core/pg_native.h"

#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>

#include <atomic>
#include <cctype>
#include <charconv>
#include <cstring>
#include <stdexcept>

#include "core/text_routines.h"

namespace kestrix::pg {

PGconn* connection(soci::session& session) {
    auto* backend = static_cast<soci::postgresql_session_backend*>(session.get_backend());
    return backend != nullptr ? backend->conn_ : nullptr;
}

namespace {

bool isNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

}  // namespace

NumberedSql numberPlaceholders(std::string_view sql) {
    NumberedSql numbered;
    numbered.sql.reserve(sql.size() + 8);
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            // Up to the closing quote; a doubled quote inside is two quotes.
            const std::size_t close = sql.find(c, i + 1);
            const std::size_t end = close == std::string_view::npos ? sql.size() : close + 1;
            numbered.sql.append(sql.substr(i, end - i));
            i = end;
            continue;
        }
        if (c == ':' && i + 1 < sql.size() && (sql[i + 1] == ':' || sql[i + 1] == '=')) {
            numbered.sql.append(sql.substr(i, 2));
            i += 2;
            continue;
        }
        if (c == ':' && i + 1 < sql.size() && isNameCharacter(sql[i + 1])) {
            i += 1;
            while (i < sql.size() && isNameCharacter(sql[i]))
                ++i;
            numbered.sql += '$';
            numbered.sql += std::to_string(++numbered.parameters);
            continue;
        }
        numbered.sql += c;
        ++i;
    }
    return numbered;
}

bool succeeded(const PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK;
}

std::string failureText(std::string_view context, PGconn* conn, const PGresult* result) {
    std::string text(context);
    if (result != nullptr && PQresultStatus(result) == PGRES_FATAL_ERROR) text += " Fatal error.";
    const char* message = result != nullptr ? PQresultErrorMessage(result) : "";
    if (*message == '\0' && conn != nullptr) message = PQerrorMessage(conn);
    if (*message != '\0') {
        text += ' ';
        text += message;
    }
    return withoutQuotedValues(text);
}

namespace {

// Lines of a PostgreSQL message that quote the statement or the row.
bool quotesValues(std::string_view line) {
    for (std::string_view lead : {"LINE ", "DETAIL:", "CONTEXT:", "QUERY:"}) {
        if (line.starts_with(lead)) return true;
    }
    return line.find_first_not_of(" ^") == std::string_view::npos;  // the caret line
}

}  // namespace

std::string withoutQuotedValues(std::string_view message) {
    std::string kept;
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find('\n', start);
        if (end == std::string_view::npos) end = message.size();
        const std::string_view line = message.substr(start, end - start);
        if (!quotesValues(line)) {
            if (!kept.empty()) kept += '\n';
            kept += line;
        }
        start = end + 1;
    }
    return kept;
}

bool canSend(PGconn* conn) {
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) return false;
    const PGTransactionStatusType state = PQtransactionStatus(conn);
    return state == PQTRANS_IDLE || state == PQTRANS_INTRANS;
}

namespace {

// Names are unique in the process, so on any one connection too.
std::atomic<unsigned long> gStatementCount{0};

}  // namespace

NamedStatement::NamedStatement(PGconn* conn, std::string_view sql, int parameters)
    : conn_(conn), name_("kestrix_q" + std::to_string(++gStatementCount)), parameters_(parameters) {
    if (conn == nullptr) throw std::runtime_error("The database is not open.");
    const Result prepared(
        PQprepare(conn, name_.c_str(), numberPlaceholders(sql).sql.c_str(), parameters, nullptr));
    if (!succeeded(prepared.get()))
        throw std::runtime_error(failureText("Cannot prepare statement.", conn, prepared.get()));
}

NamedStatement::~NamedStatement() {
    // A connection that broke, or whose transaction failed, refuses; the
    // statement then ends with the connection.
    if (!canSend(conn_)) return;
    try {
        const Result freed(PQexec(conn_, ("DEALLOCATE " + name_).c_str()));
    } catch (const std::exception&) {
        // No memory for the statement's text: it ends with the connection.
    }
}

Result NamedStatement::run(const char* const* values) const {
    Result result(PQexecPrepared(conn_, name_.c_str(), parameters_, values, nullptr, nullptr, 0));
    if (!succeeded(result.get()))
        throw std::runtime_error(failureText("Cannot execute query.", conn_, result.get()));
    return result;
}

std::vector<const char*> textPointers(const Texts& values) {
    std::vector<const char*> texts(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        texts[i] = values[i] ? values[i]->c_str() : nullptr;
    return texts;
}

long long rowsChanged(const PGresult* result) {
    long long changed = 0;
    const char* count = PQcmdTuples(const_cast<PGresult*>(result));
    std::from_chars(count, count + std::strlen(count), changed);
    return changed;
}

Result runQuery(PGconn* conn, std::string_view sql, const Texts& values, std::size_t columns,
                std::string& failure) {
    // The unnamed statement: prepared apart from its run, so that a failure
    // is told as SOCI tells it, and replaced by the next one.
    const NumberedSql numbered = numberPlaceholders(sql);
    const int count = static_cast<int>(values.size());
    const Result prepared(PQprepare(conn, "", numbered.sql.c_str(), count, nullptr));
    if (!succeeded(prepared.get())) {
        failure = failureText("Cannot prepare statement.", conn, prepared.get());
        return nullptr;
    }
    const std::vector<const char*> texts = textPointers(values);
    Result result(PQexecPrepared(conn, "", count, texts.data(), nullptr, nullptr, 0));
    if (!succeeded(result.get())) {
        failure = failureText("Cannot execute query.", conn, result.get());
        return nullptr;
    }
    const int fields = PQnfields(result.get());
    if (static_cast<std::size_t>(fields) < columns) {
        failure = "The query returns " + std::to_string(fields) + " columns, not " +
                  std::to_string(columns) + ".";
        return nullptr;
    }
    return result;
}

std::optional<std::string_view> value(const PGresult* result, int row, int column) {
    if (PQgetisnull(result, row, column)) return std::nullopt;
    return std::string_view(PQgetvalue(result, row, column),
                            static_cast<std::size_t>(PQgetlength(result, row, column)));
}

void appendCopyValue(std::string& out, const std::optional<std::string>& value) {
    if (!value) {
        out += "\\N";
        return;
    }
    for (char c : *value) {
        if (!appendBackslashEscape(out, c, false)) out += c;
    }
}

}  // namespace kestrix::pg

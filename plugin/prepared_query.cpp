#include "plugin/prepared_query.h"

#include <soci/sqlite3/soci-sqlite3.h>

#include <stdexcept>

#include "core/sqlite_text.h"
#include "core/unicode_text.h"

namespace kestrix::plugin {

std::string_view sendable(Engine engine, std::string_view text) {
    if (engine == Engine::PostgreSQL && !isValidUtf8(text)) throw UnsendableText();
    return text;
}

PreparedQuery::PreparedQuery(soci::session& session, Engine engine, const std::string& sql,
                             std::size_t columns, bool hasParameter, std::size_t rowsPerFetch)
    : engine_(engine), rowsPerFetch_(rowsPerFetch), statement_(session) {
    if (engine == Engine::SQLite) {
        auto* backend = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
        sqlite_api::sqlite3_stmt* statement = nullptr;
        if (backend == nullptr || backend->conn_ == nullptr ||
            sqlite_api::sqlite3_prepare_v2(backend->conn_, sql.c_str(), -1, &statement, nullptr) !=
                SQLITE_OK) {
            throw std::runtime_error(backend != nullptr && backend->conn_ != nullptr
                                         ? sqlite_api::sqlite3_errmsg(backend->conn_)
                                         : "no connection");
        }
        direct_ = statement;
        values_.resize(columns);
        indicators_.resize(columns);
        hasParameter_ = hasParameter;
        return;
    }
    if (rowsPerFetch_ == 1) {
        values_.resize(columns);
        indicators_.resize(columns);
        for (std::size_t i = 0; i < columns; ++i)
            statement_.exchange(soci::into(values_[i], indicators_[i]));
    } else {
        batchValues_.resize(columns);
        batchIndicators_.resize(columns);
        makeRoom();
        for (std::size_t i = 0; i < columns; ++i)
            statement_.exchange(soci::into(batchValues_[i], batchIndicators_[i]));
    }
    if (hasParameter) statement_.exchange(soci::use(parameter_));
    statement_.alloc();
    statement_.prepare(sql);
    statement_.define_and_bind();
}

PreparedQuery::~PreparedQuery() {
    sqlite_api::sqlite3_finalize(static_cast<sqlite_api::sqlite3_stmt*>(direct_));
}

void PreparedQuery::startDirect() {
    auto* statement = static_cast<sqlite_api::sqlite3_stmt*>(direct_);
    sqlite_api::sqlite3_reset(statement);
    if (hasParameter_) {
        sqlite_api::sqlite3_bind_text(statement, 1, parameter_.data(),
                                      static_cast<int>(parameter_.size()),
                                      sqlite_api::sqlite3_destructor_type(nullptr));
    }
}

bool PreparedQuery::stepDirect() {
    auto* statement = static_cast<sqlite_api::sqlite3_stmt*>(direct_);
    const int stepped = sqlite_api::sqlite3_step(statement);
    if (stepped == SQLITE_DONE) return false;
    if (stepped != SQLITE_ROW)
        throw std::runtime_error(
            sqlite_api::sqlite3_errmsg(sqlite_api::sqlite3_db_handle(statement)));
    for (std::size_t i = 0; i < values_.size(); ++i) {
        const SqliteText text = sqliteColumnText(statement, static_cast<int>(i));
        indicators_[i] = text.null ? soci::i_null : soci::i_ok;
        values_[i].assign(text.text);
    }
    return true;
}

std::optional<std::string> PreparedQuery::column(std::size_t i) const {
    const std::string* value = text(i);
    if (value == nullptr) return std::nullopt;
    return *value;
}

const std::string* PreparedQuery::text(std::size_t i) const {
    if (rowsPerFetch_ == 1 || direct_ != nullptr) {
        if (i >= values_.size() || indicators_[i] == soci::i_null) return nullptr;
        return &values_[i];
    }
    if (i >= batchValues_.size() || row_ >= batchValues_[i].size() ||
        batchIndicators_[i][row_] == soci::i_null)
        return nullptr;
    return &batchValues_[i][row_];
}

void PreparedQuery::makeRoom() {
    for (std::size_t i = 0; i < batchValues_.size(); ++i) {
        batchValues_[i].resize(rowsPerFetch_);
        batchIndicators_[i].resize(rowsPerFetch_);
    }
}

void PreparedQuery::finish() noexcept {
    // SQLite holds its read lock while a statement has rows left to step;
    // a single-row read stops after the first row, so reset it now rather
    // than at its next use, or a writer in another process waits on us.
    if (engine_ != Engine::SQLite) return;
    if (direct_ != nullptr) {
        sqlite_api::sqlite3_reset(static_cast<sqlite_api::sqlite3_stmt*>(direct_));
        return;
    }
    auto* backend = static_cast<soci::sqlite3_statement_backend*>(statement_.get_backend());
    if (backend != nullptr && backend->stmt_ != nullptr) sqlite_api::sqlite3_reset(backend->stmt_);
}

}  // namespace kestrix::plugin

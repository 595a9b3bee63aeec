#include "plugin/prepared_query.h"

#include <soci/sqlite3/soci-sqlite3.h>

#include "core/unicode_text.h"

namespace kestrix::plugin {

std::string_view sendable(Engine engine, std::string_view text) {
    if (engine == Engine::PostgreSQL && !isValidUtf8(text)) throw UnsendableText();
    return text;
}

PreparedQuery::PreparedQuery(soci::session& session, Engine engine, const std::string& sql,
                             std::size_t columns, bool hasParameter, std::size_t rowsPerFetch)
    : engine_(engine), rowsPerFetch_(rowsPerFetch), statement_(session) {
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

PreparedQuery::~PreparedQuery() = default;

std::optional<std::string> PreparedQuery::column(std::size_t i) const {
    if (rowsPerFetch_ == 1) {
        if (i >= values_.size() || indicators_[i] == soci::i_null) return std::nullopt;
        return values_[i];
    }
    if (i >= batchValues_.size() || row_ >= batchValues_[i].size() ||
        batchIndicators_[i][row_] == soci::i_null)
        return std::nullopt;
    return batchValues_[i][row_];
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
    auto* backend = static_cast<soci::sqlite3_statement_backend*>(statement_.get_backend());
    if (backend != nullptr && backend->stmt_ != nullptr) sqlite_api::sqlite3_reset(backend->stmt_);
}

}  // namespace kestrix::plugin

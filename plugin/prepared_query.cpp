#include "plugin/prepared_query.h"

#include <soci/sqlite3/soci-sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>

#include "core/sqlite_text.h"
#include "core/unicode_text.h"

namespace kestrix::plugin {

namespace {

sqlite_api::sqlite3_stmt* prepareSqlite(soci::session& session, const std::string& sql) {
    auto* backend = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
    if (backend == nullptr || backend->conn_ == nullptr) throw std::runtime_error("no connection");
    sqlite_api::sqlite3_stmt* statement = nullptr;
    if (sqlite_api::sqlite3_prepare_v2(backend->conn_, sql.c_str(), -1, &statement, nullptr) !=
        SQLITE_OK)
        throw std::runtime_error(sqlite_api::sqlite3_errmsg(backend->conn_));
    return statement;
}

}  // namespace

std::string_view sendable(Engine engine, std::string_view text) {
    if (engine == Engine::PostgreSQL && !isValidUtf8(text)) throw UnsendableText();
    return text;
}

PreparedQuery::PreparedQuery(soci::session& session, Engine engine, const std::string& sql,
                             std::size_t columns, bool hasParameter)
    : engine_(engine),
      hasParameter_(hasParameter),
      views_(columns),
      values_(columns),
      columns_(columns, Column::Unread) {
    if (engine == Engine::SQLite) {
        sqlite_ = prepareSqlite(session, sql);
        return;
    }
    named_ =
        std::make_unique<pg::NamedStatement>(pg::connection(session), sql, hasParameter ? 1 : 0);
}

PreparedQuery::~PreparedQuery() {
    sqlite_api::sqlite3_finalize(static_cast<sqlite_api::sqlite3_stmt*>(sqlite_));
}

sqlite_api::sqlite3* PreparedQuery::sqliteConnection() const {
    return sqlite_ != nullptr
               ? sqlite_api::sqlite3_db_handle(static_cast<sqlite_api::sqlite3_stmt*>(sqlite_))
               : nullptr;
}

void PreparedQuery::start() {
    if (sqlite_ != nullptr) {
        auto* statement = static_cast<sqlite_api::sqlite3_stmt*>(sqlite_);
        sqlite_api::sqlite3_reset(statement);
        if (hasParameter_) {
            sqlite_api::sqlite3_bind_text(statement, 1, parameter_.data(),
                                          static_cast<int>(parameter_.size()),
                                          sqlite_api::sqlite3_destructor_type(nullptr));
        }
        return;
    }
    const char* parameter = parameter_.c_str();
    result_ = named_->run(&parameter);
    nextRow_ = 0;
    if (PQnfields(result_.get()) < static_cast<int>(columns_.size()))
        throw std::runtime_error("The query returns fewer columns than it is read for.");
}

bool PreparedQuery::step() {
    onRow_ = false;
    std::fill(columns_.begin(), columns_.end(), Column::Unread);
    if (sqlite_ != nullptr) {
        auto* statement = static_cast<sqlite_api::sqlite3_stmt*>(sqlite_);
        const int stepped = sqlite_api::sqlite3_step(statement);
        if (stepped == SQLITE_DONE) return false;
        if (stepped != SQLITE_ROW)
            throw std::runtime_error(
                sqlite_api::sqlite3_errmsg(sqlite_api::sqlite3_db_handle(statement)));
    } else {
        if (nextRow_ >= PQntuples(result_.get())) return false;
        ++nextRow_;
    }
    onRow_ = true;
    return true;
}

void PreparedQuery::read(std::size_t i) const {
    const int column = static_cast<int>(i);
    if (sqlite_ != nullptr) {
        auto* statement = static_cast<sqlite_api::sqlite3_stmt*>(sqlite_);
        sqlite_api::sqlite3_value* value = sqlite_api::sqlite3_column_value(statement, column);
        const int type = value != nullptr ? sqlite_api::sqlite3_value_type(value) : SQLITE_NULL;
        if (type == SQLITE_NULL) {
            columns_[i] = Column::Null;
            return;
        }
        // SQLite writes an integer as text in memory it allocates for the
        // value; written here it costs no allocation, and reads the same.
        if (type == SQLITE_INTEGER) {
            std::array<char, 24> digits{};
            const auto written = std::to_chars(digits.data(), digits.data() + digits.size(),
                                               sqlite_api::sqlite3_value_int64(value));
            values_[i].assign(digits.data(), written.ptr);
            views_[i] = values_[i];
            columns_[i] = Column::Kept;
            return;
        }
        const auto* text = sqlite_api::sqlite3_value_text(value);
        const int bytes = sqlite_api::sqlite3_value_bytes(value);
        views_[i] = text != nullptr ? std::string_view(reinterpret_cast<const char*>(text),
                                                       static_cast<std::size_t>(bytes))
                                    : std::string_view();
        columns_[i] = Column::View;
        return;
    }
    const auto text = pg::value(result_.get(), nextRow_ - 1, column);
    if (text) views_[i] = *text;
    columns_[i] = text ? Column::View : Column::Null;
}

std::optional<std::string> PreparedQuery::column(std::size_t i) const {
    const auto value = view(i);
    if (!value) return std::nullopt;
    return std::string(*value);
}

std::optional<std::string_view> PreparedQuery::view(std::size_t i) const {
    if (i >= columns_.size()) return std::nullopt;
    if (columns_[i] == Column::Unread) {
        if (!onRow_) return std::nullopt;
        read(i);
    }
    if (columns_[i] == Column::Null) return std::nullopt;
    return views_[i];
}

const std::string* PreparedQuery::text(std::size_t i) const {
    if (!view(i)) return nullptr;
    if (columns_[i] == Column::View) {
        values_[i].assign(views_[i]);
        columns_[i] = Column::Kept;
    }
    return &values_[i];
}

void PreparedQuery::finish() noexcept {
    // SQLite holds its read lock while a statement has rows left to step;
    // a single-row read stops after the first row, so reset it now rather
    // than at its next use, or a writer in another process waits on us.
    onRow_ = false;
    if (sqlite_ != nullptr)
        sqlite_api::sqlite3_reset(static_cast<sqlite_api::sqlite3_stmt*>(sqlite_));
    result_.reset();
}

PreparedUpdate::PreparedUpdate(soci::session& session, Engine engine, const std::string& sql,
                               std::vector<Variable> variables)
    : variables_(std::move(variables)) {
    if (engine == Engine::PostgreSQL) {
        named_ = std::make_unique<pg::NamedStatement>(pg::connection(session), sql,
                                                      static_cast<int>(variables_.size()));
        numbers_.resize(variables_.size());
        return;
    }
    statement_ = std::make_unique<soci::statement>(session);
    for (const Variable& variable : variables_)
        std::visit([&](auto* value) { statement_->exchange(soci::use(*value)); }, variable);
    statement_->alloc();
    statement_->prepare(sql);
    statement_->define_and_bind();
}

PreparedUpdate::~PreparedUpdate() = default;

long long PreparedUpdate::run() {
    if (statement_) {
        statement_->execute(true);
        return statement_->get_affected_rows();
    }
    std::vector<const char*> texts(variables_.size());
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        if (auto* text = std::get_if<std::string*>(&variables_[i])) {
            texts[i] = (*text)->c_str();
        } else {
            numbers_[i] = std::to_string(*std::get<long long*>(variables_[i]));
            texts[i] = numbers_[i].c_str();
        }
    }
    return pg::rowsChanged(named_->run(texts.data()).get());
}

}  // namespace kestrix::plugin

#include "plugin/prepared_query.h"

#include <soci/sqlite3/soci-sqlite3.h>

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
    : engine_(engine), hasParameter_(hasParameter), values_(columns), nulls_(columns, true) {
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
    if (PQnfields(result_.get()) < static_cast<int>(values_.size()))
        throw std::runtime_error("The query returns fewer columns than it is read for.");
}

bool PreparedQuery::step() {
    if (sqlite_ != nullptr) {
        auto* statement = static_cast<sqlite_api::sqlite3_stmt*>(sqlite_);
        const int stepped = sqlite_api::sqlite3_step(statement);
        if (stepped == SQLITE_DONE) return false;
        if (stepped != SQLITE_ROW)
            throw std::runtime_error(
                sqlite_api::sqlite3_errmsg(sqlite_api::sqlite3_db_handle(statement)));
        for (std::size_t i = 0; i < values_.size(); ++i) {
            const SqliteText text = sqliteColumnText(statement, static_cast<int>(i));
            nulls_[i] = text.null;
            values_[i].assign(text.text);
        }
        return true;
    }
    PGresult* result = result_.get();
    if (nextRow_ >= PQntuples(result)) return false;
    for (std::size_t i = 0; i < values_.size(); ++i) {
        const auto text = pg::value(result, nextRow_, static_cast<int>(i));
        nulls_[i] = !text;
        if (text) values_[i].assign(*text);
    }
    ++nextRow_;
    return true;
}

std::optional<std::string> PreparedQuery::column(std::size_t i) const {
    const std::string* value = text(i);
    if (value == nullptr) return std::nullopt;
    return *value;
}

const std::string* PreparedQuery::text(std::size_t i) const {
    if (i >= values_.size() || nulls_[i]) return nullptr;
    return &values_[i];
}

void PreparedQuery::finish() noexcept {
    // SQLite holds its read lock while a statement has rows left to step;
    // a single-row read stops after the first row, so reset it now rather
    // than at its next use, or a writer in another process waits on us.
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

#include "core/database.h"

#include <poll.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>
#include <sys/stat.h>
#include <cctype>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>

#include "core/activity_log.h"
#include "core/pg_native.h"
#include "core/settings.h"
#include "core/sqlite_text.h"

namespace kestrix {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string numberText(double value) {
    // Whole numbers (quota bytes, counters) read back without a fraction.
    if (std::isfinite(value) && std::floor(value) == value && std::fabs(value) < 9.007e15) {
        return std::to_string(static_cast<long long>(value));
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::optional<std::string> cellText(const soci::row& row, std::size_t i) {
    if (row.get_indicator(i) == soci::i_null) return std::nullopt;
    switch (row.get_properties(i).get_data_type()) {
        case soci::dt_string:
        case soci::dt_xml:
        case soci::dt_blob:
            return row.get<std::string>(i);
        case soci::dt_integer:
            return std::to_string(row.get<int>(i));
        case soci::dt_long_long:
            return std::to_string(row.get<long long>(i));
        case soci::dt_unsigned_long_long:
            return std::to_string(row.get<unsigned long long>(i));
        case soci::dt_double:
            return numberText(row.get<double>(i));
        case soci::dt_date: {
            const std::tm tm = row.get<std::tm>(i);
            char buffer[32];
            std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
            return std::string(buffer);
        }
    }
    return std::nullopt;
}

OpenFailureHandler* gOpenFailureHandler = nullptr;

// SQLite's "database is locked" after its busy wait means that another
// program held the file for writing all that time; the administrator is
// told so, not the engine's code.
std::string inPlainWords(std::string message) {
    for (const char* busy : {"database is locked", "database is busy", "database table is locked"})
        if (message.find(busy) != std::string::npos) return kDatabaseBusyMessage;
    return message;
}

// The provider's own words. SOCI adds the statement it was running, and
// PostgreSQL quotes it too; whoever ran it decides what of it to log.
std::string describe(const std::exception& e) {
    const auto* error = dynamic_cast<const soci::soci_error*>(&e);
    return inPlainWords(
        pg::withoutQuotedValues(error != nullptr ? error->get_error_message() : e.what()));
}

// A PostgreSQL server list of which none gave a connection that writes.
std::string noPrimaryMessage(const ConnectionTarget& target, const std::string& reasons) {
    const bool standbysAnswered = reasons.find("read-only") != std::string::npos ||
                                  reasons.find("hot standby") != std::string::npos;
    return "No database server accepts writes at " + dataSource(target) +
           (standbysAnswered
                ? ": those that answer are read-only standbys. The primary is down and no "
                  "standby has been promoted yet, or the connection string names no primary."
                : ": none could be reached or let Kestrix log in.") +
           "\n" + reasons;
}

constexpr const char* kLostTransactionMessage =
    "The connection to the database server broke during the changes, so none of them was "
    "stored. Please try again.";

}  // namespace

// ---- RecordSet ----

struct RecordSet::Impl {
    // The session whose statement this set reads; cleared when the session
    // closes first, which also ends the set.
    std::vector<RecordSet::Impl*>* owner = nullptr;
    // The values a bound query reads from while it runs.
    struct {
        std::vector<std::string> values;
        std::vector<soci::indicator> indicators;
    } bound;
    std::unique_ptr<soci::rowset<soci::row>> rows;
    soci::rowset<soci::row>::const_iterator current;
    std::vector<std::string> names;
    std::vector<std::optional<std::string>> values;  // the current row
    bool atEnd = true;
    std::string error;

    void loadCurrent() {
        atEnd = current == rows->end();
        values.clear();
        if (atEnd) return;
        const soci::row& row = *current;
        if (names.empty()) {
            for (std::size_t i = 0; i < row.size(); ++i) {
                names.push_back(row.get_properties(i).get_name());
            }
        }
        for (std::size_t i = 0; i < row.size(); ++i)
            values.push_back(cellText(row, i));
    }

    // Ends the set and frees its statement while the connection still exists.
    void release() {
        rows.reset();
        atEnd = true;
        values.clear();
        owner = nullptr;
    }

    ~Impl() {
        if (owner != nullptr) std::erase(*owner, this);
    }

    int indexOf(std::string_view column) const {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (equalsNoCase(names[i], column)) return static_cast<int>(i);
        }
        return -1;
    }
};

RecordSet::RecordSet() : impl_(std::make_unique<Impl>()) {}
RecordSet::RecordSet(RecordSet&&) noexcept = default;
RecordSet& RecordSet::operator=(RecordSet&&) noexcept = default;
RecordSet::~RecordSet() = default;

bool RecordSet::eof() const {
    return impl_->atEnd;
}

void RecordSet::moveNext() {
    if (impl_->atEnd) return;
    try {
        ++impl_->current;
        impl_->loadCurrent();
    } catch (const std::exception& e) {
        impl_->error = describe(e);
        impl_->atEnd = true;
        impl_->values.clear();
    }
}

std::optional<std::string> RecordSet::field(std::string_view column) const {
    const int i = impl_->indexOf(column);
    if (i < 0 || impl_->atEnd) return std::nullopt;
    return impl_->values[static_cast<std::size_t>(i)];
}

std::string RecordSet::text(std::string_view column) const {
    return field(column).value_or("");
}

std::optional<long long> RecordSet::integer(std::string_view column) const {
    const auto value = field(column);
    if (!value) return std::nullopt;
    long long result = 0;
    const char* begin = value->data();
    const char* end = begin + value->size();
    const auto parsed = std::from_chars(begin, end, result);
    if (parsed.ec == std::errc() && parsed.ptr == end) return result;
    if (auto real = number(column)) return static_cast<long long>(*real);
    return std::nullopt;
}

std::optional<double> RecordSet::number(std::string_view column) const {
    const auto value = field(column);
    if (!value) return std::nullopt;
    double result = 0;
    const char* begin = value->data();
    const char* end = begin + value->size();
    const auto parsed = std::from_chars(begin, end, result);
    if (parsed.ec == std::errc() && parsed.ptr == end) return result;
    return std::nullopt;
}

bool RecordSet::hasColumn(std::string_view column) const {
    return impl_->indexOf(column) >= 0;
}

const std::vector<std::string>& RecordSet::columnNames() const {
    return impl_->names;
}

const std::string& RecordSet::error() const {
    return impl_->error;
}

// ---- Database ----

namespace {

struct SqliteStatement {
    sqlite_api::sqlite3_stmt* statement = nullptr;
    SqliteStatement() = default;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    ~SqliteStatement() { sqlite_api::sqlite3_finalize(statement); }
};

// Binds every value (as text, or NULL), which the caller keeps alive until
// the statement has run; false when the statement takes another number.
bool bindSqliteValues(sqlite_api::sqlite3_stmt* statement, const Database::BoundValues& values) {
    if (sqlite_api::sqlite3_bind_parameter_count(statement) != static_cast<int>(values.size()))
        return false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const int place = static_cast<int>(i) + 1;
        const int bound = values[i] ? sqlite_api::sqlite3_bind_text(
                                          statement, place, values[i]->data(),
                                          static_cast<int>(values[i]->size()), SQLITE_STATIC)
                                    : sqlite_api::sqlite3_bind_null(statement, place);
        if (bound != SQLITE_OK) return false;
    }
    return true;
}

// Runs a write through SQLite's own interface, prepared once: SOCI's
// conversions of every value at every run cost more than the INSERT of a
// rule. False when it did not run; the caller then runs it the usual way,
// which reports the failure in the usual words (a refused statement
// changes nothing).
bool runSqliteWrite(soci::session& session, SqliteStatement& prepared, std::string_view sql,
                    const Database::BoundValues& values, long long* affectedRows) {
    auto* backend = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
    if (backend == nullptr || backend->conn_ == nullptr) return false;
    if (prepared.statement == nullptr &&
        (sqlite_api::sqlite3_prepare_v2(backend->conn_, sql.data(), static_cast<int>(sql.size()),
                                        &prepared.statement, nullptr) != SQLITE_OK ||
         prepared.statement == nullptr)) {
        return false;
    }
    sqlite_api::sqlite3_stmt* statement = prepared.statement;
    if (!bindSqliteValues(statement, values)) return false;
    const int stepped = sqlite_api::sqlite3_step(statement);
    sqlite_api::sqlite3_reset(statement);
    sqlite_api::sqlite3_clear_bindings(statement);
    if (stepped != SQLITE_DONE) return false;
    if (affectedRows != nullptr) *affectedRows = sqlite_api::sqlite3_changes(backend->conn_);
    return true;
}

}  // namespace

// A statement prepared once and run again with new values.
struct PreparedWrite {
    std::vector<std::string> values;
    std::vector<soci::indicator> indicators;
    soci::statement statement;

    PreparedWrite(soci::session& session, const std::string& sql, std::size_t count)
        : values(count), indicators(count, soci::i_null), statement(session) {
        for (std::size_t i = 0; i < count; ++i)
            statement.exchange(soci::use(values[i], indicators[i]));
        statement.alloc();
        statement.prepare(sql);
        statement.define_and_bind();
    }
    void set(const Database::BoundValues& bound) {
        for (std::size_t i = 0; i < bound.size(); ++i) {
            indicators[i] = bound[i] ? soci::i_ok : soci::i_null;
            values[i] = bound[i].value_or(std::string());
        }
    }
};

// Statements prepared for writing are found by their text and value count,
// compared in place: a Save runs the same INSERT hundreds of times.
using WriteKey = std::pair<std::string, std::size_t>;
using WriteKeyView = std::pair<std::string_view, std::size_t>;
struct WriteKeyLess {
    using is_transparent = void;
    static WriteKeyView view(const WriteKey& key) { return {key.first, key.second}; }
    static WriteKeyView view(const WriteKeyView& key) { return key; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
        return view(a) < view(b);
    }
};

struct Database::Impl {
    soci::session session;
    // They go before the session closes.
    std::map<WriteKey, std::unique_ptr<PreparedWrite>, WriteKeyLess> prepared;
    std::map<WriteKey, std::unique_ptr<SqliteStatement>, WriteKeyLess> sqliteWrites;
    std::map<WriteKey, std::unique_ptr<pg::NamedStatement>, WriteKeyLess> pgWrites;
    Engine engine = Engine::SQLite;
    bool open = false;
    std::string lastError;
    std::vector<RecordSet::Impl*> openSets;  // sets still reading this session
    // What it was opened with, to connect again after a break.
    std::string connectionString;
    TimeLimits limits;
    bool reconnects = false;
    bool broken = false;           // connect again before the next statement
    bool lostTransaction = false;  // a transaction broke: refuse until its end
    bool idleBefore = true;        // no transaction was open when the statement began
    std::map<std::string, std::optional<std::size_t>> columnWidths;
};

Database::Database() : impl_(std::make_unique<Impl>()) {}
Database::Database(Database&&) noexcept = default;
Database& Database::operator=(Database&& other) noexcept {
    // The session being replaced ends its record sets first, as the
    // destructor does: a set still alive must not read a closed session.
    if (this != &other) {
        close();
        impl_ = std::move(other.impl_);
    }
    return *this;
}
Database::~Database() {
    close();
}

bool Database::open(std::string_view connectionString, const TimeLimits& limits) {
    close();
    impl_->lastError.clear();
    impl_->connectionString = std::string(connectionString);
    impl_->limits = limits;
    const ParsedConnection parsed = parseConnectionString(connectionString);
    if (!parsed.target) {
        impl_->lastError = parsed.error;
        return false;
    }
    const ConnectionTarget& target = *parsed.target;
    impl_->engine = target.engine;
    try {
        if (target.engine == Engine::SQLite) {
            // Like the file databases this stands in for, opening never
            // creates a file: a wrong path is a failure.
            struct stat info {};
            if (::stat(target.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
                impl_->lastError = "The database file \"" + target.path + "\" does not exist.";
                return false;
            }
            if (target.path.find('"') != std::string::npos) {
                impl_->lastError = "A database file name may not contain a double quote.";
                return false;
            }
            impl_->session.open(*soci::factory_sqlite3(), sociConnectString(target, limits));
            // SQLite keeps foreign keys only on connections that ask: a
            // user's rows must go with the user whoever deletes it.
            impl_->session << "PRAGMA foreign_keys = ON";
        } else {
            impl_->session.open(*soci::factory_postgresql(), sociConnectString(target, limits));
        }
        impl_->open = true;
    } catch (const std::exception& e) {
        impl_->lastError = describe(e);
        impl_->open = false;
        if (!target.sessionAttributes.empty())
            impl_->lastError = noPrimaryMessage(target, impl_->lastError);
        // The reason goes to the log and to message boxes: never the password.
        if (!target.password.empty()) {
            for (std::size_t at = 0;
                 (at = impl_->lastError.find(target.password, at)) != std::string::npos;
                 at += kMaskedPassword.size())
                impl_->lastError.replace(at, target.password.size(), kMaskedPassword);
        }
    }
    return impl_->open;
}

void Database::close() {
    if (!impl_) return;
    // A record set may outlive the command's close; its statement goes first.
    for (RecordSet::Impl* set : impl_->openSets)
        set->release();
    impl_->openSets.clear();
    impl_->columnWidths.clear();
    impl_->prepared.clear();
    impl_->sqliteWrites.clear();
    // Closing frees them on the server; a DEALLOCATE each would be a round
    // trip for nothing.
    for (auto& [key, statement] : impl_->pgWrites) {
        if (statement) statement->leaveToConnection();
    }
    impl_->pgWrites.clear();
    impl_->broken = false;
    impl_->lostTransaction = false;
    if (!impl_->open) return;
    try {
        impl_->session.close();
    } catch (const std::exception&) {
        // A connection that already broke has nothing left to close.
    }
    impl_->open = false;
}

bool Database::isOpen() const {
    return impl_->open;
}

Engine Database::engine() const {
    return impl_->engine;
}

namespace {

// True for a statement that creates, alters or drops a table or column.
bool changesTables(std::string_view sql) {
    const auto start = sql.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return false;
    const std::string_view word = sql.substr(start, 6);
    auto is = [&](std::string_view keyword) {
        if (word.size() < keyword.size()) return false;
        for (std::size_t i = 0; i < keyword.size(); ++i)
            if (std::toupper(static_cast<unsigned char>(word[i])) != keyword[i]) return false;
        return true;
    };
    return is("ALTER") || is("CREATE") || is("DROP");
}

}  // namespace

bool Database::execute(std::string_view sql, long long* affectedRows) {
    if (!beforeStatement()) return false;
    // A change of the tables may change a column's width: read them again.
    if (changesTables(sql)) impl_->columnWidths.clear();
    try {
        if (affectedRows == nullptr) {
            impl_->session << std::string(sql);
        } else {
            soci::statement statement = (impl_->session.prepare << std::string(sql));
            statement.execute(true);
            *affectedRows = statement.get_affected_rows();
        }
        return true;
    } catch (const std::exception& e) {
        impl_->lastError = describe(e);
        afterFailure(true);
        return false;
    }
}

std::optional<RecordSet> Database::query(std::string_view sql) {
    return queryBound(sql, {});
}

bool Database::executeBound(std::string_view sql, const BoundValues& values,
                            long long* affectedRows) {
    if (!beforeStatement()) return false;
    const WriteKeyView key{sql, values.size()};
    if (impl_->engine == Engine::SQLite) {
        auto direct = impl_->sqliteWrites.find(key);
        if (direct == impl_->sqliteWrites.end())
            direct = impl_->sqliteWrites
                         .emplace(WriteKey(sql, values.size()), std::make_unique<SqliteStatement>())
                         .first;
        if (runSqliteWrite(impl_->session, *direct->second, sql, values, affectedRows)) return true;
        // Prepared again at its next run, as a failed statement is.
        impl_->sqliteWrites.erase(direct);
    }
    if (impl_->engine == Engine::PostgreSQL) {
        PGconn* conn = pg::connection(impl_->session);
        auto found = impl_->pgWrites.find(key);
        if (found == impl_->pgWrites.end())
            found = impl_->pgWrites.emplace(WriteKey(sql, values.size()), nullptr).first;
        auto& statement = found->second;
        try {
            if (!statement)
                statement = std::make_unique<pg::NamedStatement>(conn, sql,
                                                                 static_cast<int>(values.size()));
            const pg::Result result = statement->run(pg::textPointers(values).data());
            if (affectedRows != nullptr) *affectedRows = pg::rowsChanged(result.get());
            return true;
        } catch (const std::exception& e) {
            impl_->lastError = e.what();
            // A statement that failed is prepared again at its next run.
            impl_->pgWrites.erase(found);
            afterFailure(true);
            return false;
        }
    }
    auto found = impl_->prepared.find(key);
    try {
        if (found == impl_->prepared.end()) {
            const std::string text(sql);
            auto made = std::make_unique<PreparedWrite>(impl_->session, text, values.size());
            found = impl_->prepared.emplace(WriteKey(text, values.size()), std::move(made)).first;
        }
        PreparedWrite& write = *found->second;
        write.set(values);
        write.statement.execute(true);
        if (affectedRows != nullptr) *affectedRows = write.statement.get_affected_rows();
        return true;
    } catch (const std::exception& e) {
        impl_->lastError = describe(e);
        // A statement that failed is prepared again at its next run.
        if (found != impl_->prepared.end()) impl_->prepared.erase(found);
        return false;
    }
}

std::optional<RecordSet> Database::queryBound(std::string_view sql, const BoundValues& values) {
    if (!beforeStatement()) return std::nullopt;
    // A read that found the connection broken outside a transaction is
    // asked again on the new one.
    for (int attempt = 0;; ++attempt) {
        if (auto set = runQueryOnce(sql, values)) return set;
        if (attempt > 0 || !afterFailure(false)) return std::nullopt;
    }
}

std::optional<RecordSet> Database::runQueryOnce(std::string_view sql, const BoundValues& values) {
    try {
        RecordSet set;
        auto& bound = set.impl_->bound;
        bound.values.resize(values.size());
        bound.indicators.resize(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            bound.values[i] = values[i].value_or(std::string());
            bound.indicators[i] = values[i] ? soci::i_ok : soci::i_null;
        }
        soci::details::prepare_temp_type prepared = impl_->session.prepare << std::string(sql);
        for (std::size_t i = 0; i < values.size(); ++i)
            prepared, soci::use(bound.values[i], bound.indicators[i]);
        set.impl_->rows = std::make_unique<soci::rowset<soci::row>>(prepared);
        set.impl_->owner = &impl_->openSets;
        impl_->openSets.push_back(set.impl_.get());
        set.impl_->current = set.impl_->rows->begin();
        set.impl_->loadCurrent();
        return set;
    } catch (const std::exception& e) {
        impl_->lastError = describe(e);
        return std::nullopt;
    }
}

namespace {

// Reads through SQLite's own interface: SOCI's batched reads copy every
// value twice and take the connection's lock for each call into SQLite.
// -1 when nothing was read because the statement failed before its first
// row, so that the caller can run it the usual way and report that failure
// in the usual words; otherwise the rows read, with `failure` set when a
// later step failed. onRow is handed the statement on each row.
template <class OnRow>
long stepSqliteRows(soci::session& session, std::string_view sql,
                    const Database::BoundValues& values, std::size_t columns, OnRow&& onRow,
                    std::string& failure) {
    auto* backend = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
    if (backend == nullptr || backend->conn_ == nullptr) return -1;
    SqliteStatement prepared;
    if (sqlite_api::sqlite3_prepare_v2(backend->conn_, sql.data(), static_cast<int>(sql.size()),
                                       &prepared.statement, nullptr) != SQLITE_OK ||
        prepared.statement == nullptr ||
        sqlite_api::sqlite3_column_count(prepared.statement) != static_cast<int>(columns) ||
        !bindSqliteValues(prepared.statement, values)) {
        return -1;
    }
    const SqliteConnectionLock lock(backend->conn_);
    long read = 0;
    for (;;) {
        const int stepped = sqlite_api::sqlite3_step(prepared.statement);
        if (stepped == SQLITE_DONE) return read;
        if (stepped != SQLITE_ROW) {
            if (read == 0) return -1;
            failure = sqlite_api::sqlite3_errmsg(backend->conn_);
            return read;
        }
        onRow(prepared.statement);
        ++read;
    }
}

// A column of SQLite's current row as the record set writes it. A real
// number is written into `number`, which the result then views.
std::optional<std::string_view> sqliteValue(sqlite_api::sqlite3_stmt* statement, int column,
                                            std::string& number) {
    const SqliteText text = sqliteColumnText(statement, column);
    if (text.null) return std::nullopt;
    if (text.type != SQLITE_FLOAT) return text.text;
    number = numberText(text.real);
    return number;
}

}  // namespace

bool Database::readText(std::string_view sql, const BoundValues& values, std::size_t columns,
                        const std::function<void(const TextRow&)>& onRow) {
    TextRow row(columns);
    return forEachRowView(sql, values, columns, [&](RowView view) {
        for (std::size_t c = 0; c < columns; ++c) {
            if (!view[c]) {
                row[c].reset();
            } else {
                if (!row[c]) row[c].emplace();
                row[c]->assign(*view[c]);
            }
        }
        onRow(row);
    });
}

// SOCI's batched reads: for a connection of neither kind, and to report a
// statement SQLite refused in the usual words.
bool Database::readThroughSoci(std::string_view sql, const BoundValues& values, std::size_t columns,
                               const std::function<void(const TextRow&)>& onRow) {
    constexpr std::size_t kBatch = 1024;
    try {
        std::vector<std::string> bound(values.size());
        std::vector<soci::indicator> boundNull(values.size());
        std::vector<std::vector<std::string>> texts(columns);
        std::vector<std::vector<soci::indicator>> nulls(columns);
        const auto makeRoom = [&] {
            for (std::size_t c = 0; c < columns; ++c) {
                texts[c].resize(kBatch);
                nulls[c].resize(kBatch);
            }
        };
        makeRoom();
        soci::statement statement(impl_->session);
        for (std::size_t c = 0; c < columns; ++c)
            statement.exchange(soci::into(texts[c], nulls[c]));
        for (std::size_t i = 0; i < values.size(); ++i) {
            bound[i] = values[i].value_or(std::string());
            boundNull[i] = values[i] ? soci::i_ok : soci::i_null;
            statement.exchange(soci::use(bound[i], boundNull[i]));
        }
        statement.alloc();
        statement.prepare(std::string(sql));
        statement.define_and_bind();
        statement.execute(false);
        TextRow row(columns);
        while (statement.fetch()) {
            const std::size_t fetched = columns == 0 ? 0 : texts.front().size();
            for (std::size_t r = 0; r < fetched; ++r) {
                for (std::size_t c = 0; c < columns; ++c) {
                    if (nulls[c][r] == soci::i_null) {
                        row[c].reset();
                    } else {
                        row[c] = std::move(texts[c][r]);
                    }
                }
                onRow(row);
            }
            makeRoom();
        }
        return true;
    } catch (const std::exception& e) {
        impl_->lastError = describe(e);
        return false;
    }
}

template <class OnRow>
bool Database::forEachRowView(std::string_view sql, const BoundValues& values, std::size_t columns,
                              OnRow&& onRow) {
    if (!beforeStatement()) return false;
    std::vector<ValueView> row(columns);
    if (impl_->engine == Engine::SQLite) {
        std::vector<std::string> numbers(columns);
        const auto handOn = [&](sqlite_api::sqlite3_stmt* statement) {
            for (std::size_t c = 0; c < columns; ++c)
                row[c] = sqliteValue(statement, static_cast<int>(c), numbers[c]);
            onRow(RowView(row));
        };
        std::string failure;
        if (stepSqliteRows(impl_->session, sql, values, columns, handOn, failure) >= 0) {
            if (failure.empty()) return true;
            impl_->lastError = inPlainWords(failure);
            return false;
        }
    }
    if (impl_->engine == Engine::PostgreSQL) {
        if (pg::connection(impl_->session) != nullptr) {
            pg::Result result = pg::runQuery(pg::connection(impl_->session), sql, values, columns,
                                             impl_->lastError);
            // Nothing was handed on yet: a read outside a transaction that
            // found the connection broken is asked again on the new one.
            if (!result && afterFailure(false))
                result = pg::runQuery(pg::connection(impl_->session), sql, values, columns,
                                      impl_->lastError);
            if (!result) return false;
            const int rows = PQntuples(result.get());
            for (int r = 0; r < rows; ++r) {
                for (std::size_t c = 0; c < columns; ++c)
                    row[c] = pg::value(result.get(), r, static_cast<int>(c));
                onRow(RowView(row));
            }
            return true;
        }
    }
    return readThroughSoci(sql, values, columns, [&](const TextRow& text) {
        for (std::size_t c = 0; c < columns; ++c)
            row[c] = text[c] ? ValueView(*text[c]) : std::nullopt;
        onRow(RowView(row));
    });
}

bool Database::readViews(std::string_view sql, const BoundValues& values, std::size_t columns,
                         const std::function<void(RowView)>& onRow) {
    return forEachRowView(sql, values, columns, onRow);
}

bool Database::readColumn(std::string_view sql, const BoundValues& values,
                          const std::function<void(ValueView)>& onValue) {
    return forEachRowView(sql, values, 1, [&](RowView row) { onValue(row[0]); });
}

bool Database::begin() {
    if (!beforeStatement()) return false;
    for (int attempt = 0;; ++attempt) {
        try {
            impl_->session.begin();
            return true;
        } catch (const std::exception& e) {
            impl_->lastError = describe(e);
            // Nothing had begun: it begins on the new connection.
            if (attempt > 0 || !afterFailure(false)) return false;
        }
    }
}

bool Database::commit() {
    if (!beforeStatement()) {
        // The transaction is over either way.
        if (impl_->lostTransaction) {
            impl_->lostTransaction = false;
            impl_->broken = true;
        }
        return false;
    }
    try {
        impl_->session.commit();
        return true;
    } catch (const std::exception& e) {
        impl_->lastError = describe(e);
        if (connectionBroke()) {
            impl_->lastError =
                "The connection to the database server broke while the changes were being "
                "committed: they may or may not have been stored. Look before repeating them. (" +
                impl_->lastError + ")";
            impl_->broken = true;
        }
        return false;
    }
}

bool Database::rollback() {
    if (impl_->lostTransaction) {
        // Nothing of it was stored; the next statement connects again.
        impl_->lostTransaction = false;
        impl_->broken = true;
        return true;
    }
    try {
        impl_->session.rollback();
        return true;
    } catch (const std::exception& e) {
        impl_->lastError = describe(e);
        return false;
    }
}

std::map<std::string, std::optional<std::size_t>>& Database::columnWidths() {
    return impl_->columnWidths;
}

const std::string& Database::lastError() const {
    return impl_->lastError;
}

soci::session& Database::session() {
    return impl_->session;
}

void Database::reconnectAfterBreak(bool on) {
    impl_->reconnects = on;
}

bool Database::beforeStatement() {
    if (impl_->lostTransaction) {
        impl_->lastError = kLostTransactionMessage;
        return false;
    }
    if (impl_->broken && !reconnect()) return false;
    if (!impl_->open) {
        impl_->lastError = "The database is not open.";
        return false;
    }
    PGconn* conn = impl_->engine == Engine::PostgreSQL ? pg::connection(impl_->session) : nullptr;
    impl_->idleBefore = conn == nullptr || PQtransactionStatus(conn) == PQTRANS_IDLE;
    if (conn == nullptr || !impl_->reconnects) return true;
    // A server that went away while the session waited has closed the
    // socket (or said why): noticed now, the statement runs on a new
    // connection, or a transaction under way ends here.
    // (A last message, then the end: each takes a read.)
    for (int read = 0; read < 4 && PQstatus(conn) == CONNECTION_OK; ++read) {
        pollfd waiting{PQsocket(conn), POLLIN, 0};
        if (::poll(&waiting, 1, 0) <= 0 || PQconsumeInput(conn) == 0) break;
    }
    if (PQstatus(conn) == CONNECTION_OK) return true;
    const std::string cause = pg::withoutQuotedValues(PQerrorMessage(conn));
    if (!impl_->idleBefore) {
        impl_->lostTransaction = true;
        impl_->lastError = std::string(kLostTransactionMessage) + " (" + cause + ")";
        return false;
    }
    if (reconnect()) return true;
    impl_->lastError =
        "The connection to the database server broke (" + cause + ").\n" + impl_->lastError;
    return false;
}

bool Database::connectionBroke() {
    if (!impl_->reconnects || impl_->engine != Engine::PostgreSQL || !impl_->open) return false;
    PGconn* conn = pg::connection(impl_->session);
    return conn == nullptr || PQstatus(conn) != CONNECTION_OK;
}

bool Database::afterFailure(bool changes) {
    if (!connectionBroke()) return false;
    const std::string cause = impl_->lastError;
    if (!impl_->idleBefore) {
        impl_->lostTransaction = true;
        impl_->lastError = std::string(kLostTransactionMessage) + " (" + cause + ")";
        return false;
    }
    const std::string broke =
        std::string("The connection to the database server broke") +
        (changes ? ": what the statement would have changed may or may not be stored. Look "
                   "before repeating it."
                 : ".") +
        " (" + cause + ")";
    const bool again = reconnect();
    impl_->lastError = again ? broke : broke + "\n" + impl_->lastError;
    return again;
}

bool Database::reconnect() {
    // A set still reading the old connection ends, and says why.
    for (RecordSet::Impl* set : impl_->openSets)
        set->error = "The connection to the database server broke while the rows were read.";
    const std::string connectionString = impl_->connectionString;
    const TimeLimits limits = impl_->limits;
    if (open(connectionString, limits)) return true;
    // Tried again at the next statement.
    impl_->broken = true;
    return false;
}

// ---- the session routines ----

void setOpenFailureHandler(OpenFailureHandler* handler) {
    gOpenFailureHandler = handler;
}

namespace {

// Which database a connection string names, for the log: never its password.
std::string databaseNamed(const std::string& connectionString) {
    const ParsedConnection parsed = parseConnectionString(connectionString);
    if (!parsed.target) return "(no usable connection string)";
    const ConnectionTarget& t = *parsed.target;
    if (t.engine == Engine::SQLite) return "SQLite file " + t.path;
    return "PostgreSQL database " + t.database + " on " +
           (t.host.empty() ? std::string("the local server") : t.host) +
           (t.port.empty() ? std::string() : ":" + t.port);
}

}  // namespace

bool openDatabase(Database& db, int mode) {
    const std::string connectionString = readConnectionString();
    db = Database();
    db.reconnectAfterBreak(true);
    const bool usable = db.open(connectionString);
    // One line with what was opened and how it went.
    std::string outcome = usable ? std::string("opened") : "failed, " + db.lastError();
    // A provider's description may run over several lines; the log's line is one.
    for (char& c : outcome)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    writeLog("attempt to open database " + databaseNamed(connectionString) + ": " + outcome);
    if (usable || mode == 1) return usable;
    if (gOpenFailureHandler != nullptr) gOpenFailureHandler->interactiveOpenFailed(db.lastError());
    return false;
}

void closeDatabase(Database& db) {
    db.close();
}

std::string describeFailure(const std::exception& e) {
    return describe(e);
}

}  // namespace kestrix

#include "plugin/account_store.h"

#include <soci/postgresql/soci-postgresql.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>

#include "core/list_changes.h"
#include "core/password_hash.h"
#include "plugin/number_text.h"
#include "plugin/prepared_query.h"
#include "plugin/quota_ratio.h"

namespace kestrix::plugin {

namespace {

// The users columns in UserColumn order.
constexpr std::array<const char*, kUserColumnCount> kUserColumnNames = {
    "password",    "login_msg_file",  "hide_hidden_files",    "rel_path",          "ratio_type",
    "ratio_down",  "ratio_up",        "ratio_current_credit", "use_quota",         "quota_current",
    "quota_max",   "always_login",    "one_login_per_ip",     "speed_limit_value", "timeout",
    "maintenance", "session_timeout", "max_concurrent",       "max_logins_per_ip", "Expires",
    "DisableOn",
};

// The whole row a login reads: name, home, disabled, then the columns in
// UserColumn order.
std::string wholeRowSql() {
    std::string sql = "select username,homedir,disable_user";
    for (const char* column : kUserColumnNames)
        sql += std::string(",") + column;
    return sql + " from users where username=:u";
}
constexpr std::size_t kWholeRowColumns = 3 + kUserColumnCount;

// The home row and the directory rules in one statement: a first column
// that is not NULL marks the home row (home, -, disabled), whose columns
// line up by type with the rules' (directory, rights, inheritance). The
// rules' first column is NULL, which the server sends without writing out
// a value for every rule. Both halves take the one parameter.
std::string homeAndRulesSql(Engine engine) {
    const std::string u = engine == Engine::PostgreSQL ? "$1" : ":u";
    return "select 'home',homedir,null,disable_user from users where username=" + u +
           " union all select null,directory,dir_rights,inherit_subdirs from dir_rights where "
           "username=" +
           u;
}

enum Query {
    kLogin,
    kBlockedIps,
    kBlockedIpsByUser,
    kLogIps,
    kSignFiles,
    kDataVersion,
    kHome,
    kQuotaPair,
    kDirRules,
    kFileRules,
    kRatioFree,
    kQueryCount
};

struct QueryDefinition {
    const char* sql;
    std::size_t columns;
    bool hasParameter;
};

constexpr std::array<QueryDefinition, kQueryCount> kQueries = {{
    // The collation of the column takes "Dup" and "dup" for one name; of
    // the rows it finds, the login and the password change both take the
    // first by the exact name (see loginRow).
    {"select username,password from users where username=:u", 2, true},
    {"select ip from blocked_ips", 1, false},
    {"select ip from blocked_ips_by_user where username=:u or username='*'", 1, true},
    {"select ip from log_ips", 1, false},
    {"select ip,signon_msg_file,signoff_msg_file from sign_files", 3, false},
    {"pragma data_version", 1, false},
    {"select homedir,disable_user from users where username=:u", 2, true},
    {"select quota_current,quota_max from users where username=:u", 2, true},
    {"select directory,dir_rights,inherit_subdirs from dir_rights where username=:u", 3, true},
    {"select filename,file_rights from file_rights where username=:u", 2, true},
    {"select filename from ratio_free_files where username=:u or username='*'", 1, true},
}};

// The collation that compares names byte for byte.
const char* exactCollation(Engine engine) {
    return engine == Engine::PostgreSQL ? "\"C\"" : "binary";
}

// A number as decimal text, independent of the process locale.
std::string decimalText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// Runs one write. On SQLite the write lock is taken first: a connection
// that read before asking for it could meet another writer waiting for its
// read to end, and SQLite ends that deadlock by failing at once rather than
// waiting its busy time.
template <class Run>
long long writeOnce(soci::session& session, Engine engine, Run&& run) {
    if (engine != Engine::SQLite) return run();
    session << "begin immediate";
    try {
        const long long changed = run();
        session << "commit";
        return changed;
    } catch (...) {
        try {
            session << "rollback";
        } catch (const std::exception&) {
            // No transaction left to end.
        }
        throw;
    }
}

}  // namespace

// The statements of one connection, prepared on first use, with the
// variables the updates are bound to.
struct AccountStore::Statements {
    Statements(soci::session& s, Engine e) : session(s), engine(e) {}

    PreparedQuery& userColumn(UserColumn column) {
        auto& slot = userColumns[static_cast<std::size_t>(column)];
        if (!slot) {
            const std::string sql = std::string("select ") +
                                    kUserColumnNames[static_cast<std::size_t>(column)] +
                                    " from users where username=:u";
            slot = std::make_unique<PreparedQuery>(session, engine, sql, 1, true);
        }
        return *slot;
    }

    PreparedQuery& wholeRow() {
        if (!whole)
            whole = std::make_unique<PreparedQuery>(session, engine, wholeRowSql(),
                                                    kWholeRowColumns, true);
        return *whole;
    }

    PreparedQuery& homeAndRules() {
        if (!homeRules)
            homeRules =
                std::make_unique<PreparedQuery>(session, engine, homeAndRulesSql(engine), 4, true);
        return *homeRules;
    }

    PreparedQuery& query(int which) {
        auto& slot = queries[static_cast<std::size_t>(which)];
        if (!slot) {
            const QueryDefinition& definition = kQueries[static_cast<std::size_t>(which)];
            slot = std::make_unique<PreparedQuery>(session, engine, definition.sql,
                                                   definition.columns, definition.hasParameter);
        }
        return *slot;
    }

    PreparedUpdate& passwordUpdate() {
        if (!password) {
            // The user name compared exactly: "Dup" and "dup" are two accounts.
            password = std::make_unique<PreparedUpdate>(
                session, engine,
                std::string("update users set password=:p where username=:u collate ") +
                    exactCollation(engine),
                std::vector<PreparedUpdate::Variable>{&newPassword, &user});
        }
        return *password;
    }

    PreparedUpdate& passwordReplace() {
        if (!replace) {
            replace = std::make_unique<PreparedUpdate>(
                session, engine,
                std::string("update users set password=:p where username=:u collate ") +
                    exactCollation(engine) + " and password=:old",
                std::vector<PreparedUpdate::Variable>{&newPassword, &user, &oldPassword});
        }
        return *replace;
    }

    PreparedUpdate& creditUpdate() {
        if (!credit) {
            // The amount goes as decimal text, which both engines take as
            // the number (the driver's own formatting follows the locale).
            // The sum must stay a finite double; it is compared without being
            // computed, since PostgreSQL fails on the overflow and SQLite
            // would store an infinity.
            // Each placeholder has a name of its own: SQLite takes one name
            // written twice for one parameter.
            auto a = [](int n) { return "cast(:a" + std::to_string(n) + " as double precision)"; };
            const std::string largest = "1.7976931348623157e308";
            credit = std::make_unique<PreparedUpdate>(
                session, engine,
                "update users set ratio_current_credit=ratio_current_credit+" + a(1) +
                    " where username=:u and ((" + a(2) +
                    ">=0 and ratio_current_credit<=" + largest + "-" + a(3) + ") or (" + a(4) +
                    "<0 and ratio_current_credit>=-" + largest + "-" + a(5) + "))",
                std::vector<PreparedUpdate::Variable>{&amount, &user, &amount, &amount, &amount,
                                                      &amount});
        }
        return *credit;
    }

    PreparedUpdate& quotaCharge() {
        if (!quota) {
            // applyQuotaAmount in one statement: the row is locked from the
            // read of the old value to the write of the new, so charges at
            // the same moment each count. An empty remaining quota, or one
            // above the maximum, counts from the maximum.
            const std::string none = std::to_string(kNoValue);
            const std::string start = "(case when quota_current is null or quota_current=" + none +
                                      " or quota_current>quota_max then quota_max "
                                      "when quota_current<0 then 0 else quota_current end)";
            quota = std::make_unique<PreparedUpdate>(
                session, engine,
                "update users set quota_current=case when " + start + "-:a1<0 then 0 else " +
                    start + "-:a2 end where username=:u and quota_max>=0 and quota_max<>" + none +
                    " and " + start + "-:a3<=quota_max",
                std::vector<PreparedUpdate::Variable>{&quotaAmount, &quotaAmount, &user,
                                                      &quotaAmount});
        }
        return *quota;
    }

    soci::session& session;
    Engine engine;
    // Bound by reference into the updates.
    std::string user;
    std::string newPassword;
    std::string oldPassword;
    std::string amount;
    std::optional<std::size_t> passwordWidth;
    long long quotaAmount = 0;

    std::array<std::unique_ptr<PreparedQuery>, kUserColumnCount> userColumns;
    std::array<std::unique_ptr<PreparedQuery>, kQueryCount> queries;
    std::unique_ptr<PreparedQuery> whole;
    std::unique_ptr<PreparedQuery> homeRules;
    std::unique_ptr<PreparedUpdate> password;
    std::unique_ptr<PreparedUpdate> replace;
    std::unique_ptr<PreparedUpdate> credit;
    std::unique_ptr<PreparedUpdate> quota;
};

AccountStore::AccountStore(Clock clock, DeadlineWatch& watch)
    : clock_(std::move(clock)), watch_(watch), ruleDirectories_(clock_) {}

AccountStore::~AccountStore() {
    close();
}

void AccountStore::start(std::string connectionString) {
    connectionString_ = std::move(connectionString);
    if (!connectionString_.empty()) open();
}

bool AccountStore::ready() {
    if (db_.isOpen()) return true;
    if (connectionString_.empty() || (lastAttempt_ && clock_() - *lastAttempt_ < kRetryInterval) ||
        !open()) {
        databaseFailed_ = true;
        return false;
    }
    return true;
}

bool AccountStore::open() {
    close();
    lastAttempt_ = clock_();
    if (!db_.open(connectionString_, kTimeLimits)) return false;
    sqliteBusy_ = std::chrono::seconds(kTimeLimits.busySeconds);
    statements_ = std::make_unique<Statements>(db_.session(), db_.engine());
    // Whatever changed while there was no connection is unknown.
    forgetLists();
    forgetRows();
    listening_ = false;
    return true;
}

void AccountStore::close() {
    // Statements belong to their connection and go first.
    statements_.reset();
    db_.close();
}

bool AccountStore::connectionBroken() const {
    if (!db_.isOpen()) return true;
    if (db_.engine() != Engine::PostgreSQL) return false;
    auto& session = const_cast<Database&>(db_).session();
    auto* backend = static_cast<soci::postgresql_session_backend*>(session.get_backend());
    return backend == nullptr || backend->conn_ == nullptr ||
           PQstatus(backend->conn_) != CONNECTION_OK;
}

std::optional<std::chrono::milliseconds> AccountStore::roundTripLimit() const {
    if (!deadline_) return kRoundTripLimit;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - std::chrono::steady_clock::now());
    if (left <= std::chrono::milliseconds::zero()) return std::nullopt;
    return std::min(left, kRoundTripLimit);
}

template <class Op>
AccountStore::Outcome AccountStore::runOnce(Op& op) {
    const auto limit = roundTripLimit();
    // Too late to ask: the event gets the answer of a failed read.
    if (!limit) {
        databaseFailed_ = true;
        return Outcome::Failed;
    }
    std::optional<DeadlineWatch::Armed> watched;
    if (db_.engine() == Engine::PostgreSQL) {
        auto* backend = static_cast<soci::postgresql_session_backend*>(db_.session().get_backend());
        if (backend != nullptr && backend->conn_ != nullptr)
            watched.emplace(watch_, PQsocket(backend->conn_), *limit);
    } else {
        // A file locked by another process: wait for it no longer than the
        // event has left, nor longer than the connection's own busy time.
        auto* backend = static_cast<soci::sqlite3_session_backend*>(db_.session().get_backend());
        const auto busy = std::min<std::chrono::milliseconds>(
            *limit, std::chrono::seconds(kTimeLimits.busySeconds));
        // Set only when it changes: most statements of an event start with
        // more time left than the busy time.
        if (backend != nullptr && backend->conn_ != nullptr && busy != sqliteBusy_) {
            sqlite_api::sqlite3_busy_timeout(backend->conn_, static_cast<int>(busy.count()));
            sqliteBusy_ = busy;
        }
    }
    try {
        op(*statements_);
        if (watched) (void)watched->disarm();
        return Outcome::Ran;
    } catch (const UnsendableText&) {
        // Never sent, so nothing of the statement is left half done.
        return Outcome::Failed;
    } catch (const std::exception& failure) {
        if (watched && watched->disarm()) return Outcome::Stalled;
        if (connectionBroken()) return Outcome::Broken;
        if (fileBusy(failure.what())) databaseFailed_ = true;
    }
    // The statements are prepared afresh at their next use: once a table
    // changed under it, a statement prepared before can go on failing
    // ("cached plan must not change result type") where a new one runs.
    statements_ = std::make_unique<Statements>(db_.session(), db_.engine());
    return Outcome::Failed;
}

template <class Op>
bool AccountStore::attempt(Op&& op) {
    // Past the deadline even a connection is not tried: the retry interval
    // is left to an event that has the time.
    if (!roundTripLimit()) {
        databaseFailed_ = true;
        return false;
    }
    if (!ready()) return false;
    switch (runOnce(op)) {
        case Outcome::Ran:
            return true;
        case Outcome::Failed:
            return false;
        case Outcome::Stalled:
            databaseFailed_ = true;
            // No answer in time: no second wait now. The connection is
            // replaced at the next use, at once: a healthy server that was
            // only slow must not cost the retry interval of refusals; a
            // server that does not answer fails that opening and only then
            // waits for the interval.
            close();
            lastAttempt_.reset();
            return false;
        case Outcome::Broken:
            break;
    }
    // The connection broke (the server restarted): one fresh connection,
    // one more try.
    if (open() && runOnce(op) == Outcome::Ran) return true;
    databaseFailed_ = true;
    return false;
}

// A write's rollback has already cleared the connection's error code: the
// text of the failure tells too.
bool AccountStore::fileBusy(std::string_view failure) const {
    if (db_.engine() != Engine::SQLite || !db_.isOpen()) return false;
    if (failure.find("database is locked") != std::string_view::npos ||
        failure.find("database table is locked") != std::string_view::npos)
        return true;
    auto& session = const_cast<Database&>(db_).session();
    auto* backend = static_cast<soci::sqlite3_session_backend*>(session.get_backend());
    if (backend == nullptr || backend->conn_ == nullptr) return false;
    const int code = sqlite_api::sqlite3_errcode(backend->conn_) & 0xff;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

const UserRow* AccountStore::keptRow(std::string_view user) {
    const auto kept = rows_.find(std::string(user));
    if (kept == rows_.end()) return nullptr;
    if (clock_() - kept->second.readAt >= kRowLifetime) {
        rows_.erase(kept);
        return nullptr;
    }
    return &kept->second.row;
}

std::optional<std::string> AccountStore::userValue(UserColumn column, std::string_view user,
                                                   bool* complete) {
    if (const UserRow* row = keptRow(user)) {
        if (complete) *complete = true;
        return row->columns[static_cast<std::size_t>(column)];
    }
    std::optional<std::string> value;
    const bool ran = attempt([&](Statements& s) {
        PreparedQuery& query = s.userColumn(column);
        query.run(user, [&] {
            value = query.column(0);
            return false;
        });
    });
    if (complete) *complete = ran;
    return ran ? value : std::nullopt;
}

// Of the rows of one address, the first as read answers, as a read of
// that address alone would.
std::optional<std::string> AccountStore::signFile(bool signOn, std::string_view address) {
    checkLists();
    if (!lists_.signFiles) {
        std::unordered_map<std::string, SignFiles> files;
        const bool complete = attempt([&](Statements& s) {
            files.clear();
            PreparedQuery& query = s.query(kSignFiles);
            query.run({}, [&] {
                if (const std::string* ip = query.text(0))
                    files.try_emplace(*ip, SignFiles{query.column(1), query.column(2)});
                return true;
            });
        });
        if (!complete) return std::nullopt;
        listsRead();
        lists_.signFiles = std::move(files);
    }
    const auto found = lists_.signFiles->find(std::string(address));
    if (found == lists_.signFiles->end()) return std::nullopt;
    return signOn ? found->second.signOn : found->second.signOff;
}

template <class Row>
std::optional<Row> AccountStore::firstRow(int which, std::string_view user, bool* complete) {
    std::optional<Row> row;
    const bool ran = attempt([&](Statements& s) {
        row.reset();
        PreparedQuery& query = s.query(which);
        query.run(user, [&] {
            row = Row{query.column(0), query.column(1)};
            return false;
        });
    });
    if (complete) *complete = ran;
    return ran ? row : std::nullopt;
}

// Of the rows the column's collation finds, the first by the exact name,
// byte for byte, whatever order they lie in. Chosen here rather than by an
// ORDER BY in another collation than the index's: that sorts even one row.
std::optional<AccountStore::LoginRow> AccountStore::passwordRow(std::string_view user) {
    std::optional<LoginRow> row;
    attempt([&](Statements& s) {
        row.reset();
        PreparedQuery& query = s.query(kLogin);
        query.run(user, [&] {
            const std::string* name = query.text(0);
            if (!row || (name != nullptr && (!row->name || *name < *row->name)))
                row = LoginRow{query.column(0), query.column(1), std::nullopt, std::nullopt};
            return true;
        });
    });
    return row;
}

// The row read here is the one the login's later events see.
std::optional<AccountStore::LoginRow> AccountStore::loginRow(std::string_view user) {
    std::optional<UserRow> row;
    const auto readAt = clock_();
    const bool ran = attempt([&](Statements& s) {
        row.reset();
        PreparedQuery& query = s.wholeRow();
        query.run(user, [&] {
            const std::string* name = query.text(0);
            if (!row || (name != nullptr && (!row->name || *name < *row->name))) {
                row.emplace();
                row->name = query.column(0);
                row->homedir = query.column(1);
                row->disabled = query.column(2);
                for (std::size_t i = 0; i < kUserColumnCount; ++i)
                    row->columns[i] = query.column(3 + i);
            }
            return true;
        });
    });
    std::string key(user);
    rows_.erase(key);
    // A column the whole row names may be missing from a table made
    // elsewhere: the password is still checked, each other column read
    // alone. Not after a stall, which leaves the connection to the next use.
    if (!ran && db_.isOpen()) return passwordRow(user);
    if (!row) return std::nullopt;
    const auto column = [&](UserColumn c) { return row->columns[static_cast<std::size_t>(c)]; };
    LoginRow login{row->name, column(UserColumn::Password), column(UserColumn::Expires),
                   column(UserColumn::DisableOn)};
    login.whole = std::make_shared<const KeptLogin>(
        KeptLogin{std::move(key), KeptRow{std::move(*row), readAt}, rowsForgotten_});
    return login;
}

void AccountStore::keepLoginRow(const LoginRow& login) {
    if (!login.whole || login.whole->forgotten != rowsForgotten_) return;
    // Many users logging in within the lifetime: the oldest go with the rest.
    if (rows_.size() >= kMaxKeptRows) rows_.clear();
    rows_.insert_or_assign(login.whole->key, login.whole->kept);
}

std::optional<AccountStore::HomeRow> AccountStore::keptHomeRow(std::string_view user) {
    const UserRow* row = keptRow(user);
    if (!row) return std::nullopt;
    return HomeRow{row->homedir, row->disabled};
}

std::optional<AccountStore::HomeRow> AccountStore::homeRow(std::string_view user) {
    if (auto kept = keptHomeRow(user)) return kept;
    return firstRow<HomeRow>(kHome, user);
}

std::optional<AccountStore::QuotaRow> AccountStore::quotaRow(std::string_view user,
                                                             bool* complete) {
    return firstRow<QuotaRow>(kQuotaPair, user, complete);
}

template <class Row, class MakeRow>
ReadList<Row> AccountStore::readList(int which, std::string_view parameter, MakeRow&& makeRow) {
    ReadList<Row> list;
    list.complete = attempt([&](Statements& s) {
        list.rows.clear();
        PreparedQuery& query = s.query(which);
        query.run(parameter, [&] {
            if (auto row = makeRow(query)) list.rows.push_back(std::move(*row));
            return true;
        });
    });
    return list;
}

namespace {

std::optional<std::string> firstColumn(const PreparedQuery& query) {
    return query.column(0);
}

}  // namespace

// Each row is parsed as it is read; a NULL is no entry.
ReadAddresses AccountStore::readAddresses(int which, std::string_view parameter) {
    ReadAddresses read;
    read.complete = attempt([&](Statements& s) {
        read.list = AddressList();
        PreparedQuery& query = s.query(which);
        query.run(parameter, [&] {
            if (const std::string* row = query.text(0)) read.list.add(*row);
            return true;
        });
    });
    return read;
}

void AccountStore::forgetRows() {
    rows_.clear();
    // A login's row read before this is not kept either.
    ++rowsForgotten_;
}

void AccountStore::forgetLists() {
    lists_.blocked.reset();
    lists_.listed.reset();
    lists_.signFiles.reset();
    lists_.readAt.reset();
}

void AccountStore::listsRead() {
    if (!lists_.readAt) lists_.readAt = clock_();
}

void AccountStore::checkLists() {
    // A list that could not be read whole is read again.
    if (lists_.blocked && !lists_.blocked->complete) lists_.blocked.reset();
    if (lists_.listed && !lists_.listed->complete) lists_.listed.reset();
    if (!ready()) return forgetLists();
    if (db_.engine() == Engine::SQLite) {
        // Moves when another connection commits a change to the file (this
        // one never writes the lists).
        std::optional<long long> version;
        attempt([&](Statements& s) {
            version.reset();
            PreparedQuery& query = s.query(kDataVersion);
            query.run({}, [&] {
                if (const std::string* text = query.text(0)) version = storedWhole(*text);
                return false;
            });
        });
        if (!version || version != lists_.dataVersion) forgetLists();
        lists_.dataVersion = version;
        return;
    }
    if (!listening_) {
        forgetLists();
        listening_ = attempt([&](Statements& s) {
            const pg::Result result(PQexec(pg::connection(s.session),
                                           (std::string("listen ") + kListsChannel).c_str()));
            if (!pg::succeeded(result.get()))
                throw std::runtime_error(
                    pg::failureText("listen", pg::connection(s.session), result.get()));
        });
    }
    // Notifications wait in the socket until the connection reads: take in
    // what has arrived, without a round trip.
    bool notified = false;
    if (PGconn* conn = db_.isOpen() ? pg::connection(db_.session()) : nullptr) {
        PQconsumeInput(conn);
        while (PGnotify* notice = PQnotifies(conn)) {
            notified = true;
            PQfreemem(notice);
        }
    }
    if (notified || (lists_.readAt && clock_() - *lists_.readAt >= kListLifetime)) forgetLists();
}

const ReadAddresses& AccountStore::blockedAddresses() {
    checkLists();
    if (!lists_.blocked) {
        lists_.blocked = readAddresses(kBlockedIps, {});
        if (lists_.blocked->complete) listsRead();
    }
    return *lists_.blocked;
}

ReadAddresses AccountStore::blockedAddressesOfUser(std::string_view user) {
    return readAddresses(kBlockedIpsByUser, user);
}

const ReadAddresses& AccountStore::listedAddresses() {
    checkLists();
    if (!lists_.listed) {
        lists_.listed = readAddresses(kLogIps, {});
        if (lists_.listed->complete) listsRead();
    }
    return *lists_.listed;
}

ReadList<std::string> AccountStore::ratioFreeFiles(std::string_view user) {
    return readList<std::string>(kRatioFree, user, firstColumn);
}

ReadList<DirRuleRow> AccountStore::directoryRules(std::string_view user) {
    return readList<DirRuleRow>(kDirRules, user, [](const PreparedQuery& q) {
        return std::optional<DirRuleRow>(DirRuleRow{q.column(0), q.column(1), q.column(2)});
    });
}

bool AccountStore::visitDirectoryRules(std::string_view user, const std::function<void()>& restart,
                                       const DirRuleVisit& visit) {
    bool first = true;
    return attempt([&](Statements& s) {
        if (!first) restart();
        first = false;
        PreparedQuery& query = s.query(kDirRules);
        const DirRuleColumns row(query, 0);
        query.run(user, [&] {
            visit(row);
            return true;
        });
    });
}

bool AccountStore::visitHomeAndDirectoryRules(std::string_view user,
                                              const std::function<void()>& restart,
                                              const HomeVisit& home, const DirRuleVisit& visit) {
    bool first = true;
    return attempt([&](Statements& s) {
        if (!first) restart();
        first = false;
        bool homeSeen = false;
        PreparedQuery& query = s.homeAndRules();
        const DirRuleColumns rule(query, 1);
        query.run(user, [&] {
            if (query.view(0)) {
                if (!homeSeen) home(HomeRow{query.column(1), query.column(3)});
                homeSeen = true;
            } else {
                visit(rule);
            }
            return true;
        });
    });
}

std::optional<std::string_view> AccountStore::DirRuleColumns::directory() const {
    return query_.view(first_);
}

const std::string* AccountStore::DirRuleColumns::rights() const {
    return query_.text(first_ + 1);
}

const std::string* AccountStore::DirRuleColumns::inherit() const {
    return query_.text(first_ + 2);
}

ReadList<FileRuleRow> AccountStore::fileRules(std::string_view user) {
    return readList<FileRuleRow>(kFileRules, user, [](const PreparedQuery& q) {
        return std::optional<FileRuleRow>(FileRuleRow{q.column(0), q.column(1)});
    });
}

bool AccountStore::changePassword(std::string_view storedName, std::string_view password) {
    forgetRows();
    long long changed = 0;
    attempt([&](Statements& s) {
        PreparedUpdate& update = s.passwordUpdate();
        s.user.assign(sendable(s.engine, storedName));
        s.newPassword.assign(sendable(s.engine, password));
        changed = writeOnce(s.session, s.engine, [&] { return update.run(); });
    });
    return changed > 0;
}

bool AccountStore::replacePassword(std::string_view storedName, std::string_view stored,
                                   std::string_view replacement) {
    forgetRows();
    long long changed = 0;
    attempt([&](Statements& s) {
        PreparedUpdate& update = s.passwordReplace();
        s.user.assign(sendable(s.engine, storedName));
        s.oldPassword.assign(sendable(s.engine, stored));
        s.newPassword.assign(sendable(s.engine, replacement));
        changed = writeOnce(s.session, s.engine, [&] { return update.run(); });
    });
    return changed > 0;
}

std::optional<std::size_t> AccountStore::passwordWidth() {
    std::optional<std::size_t> width;
    attempt([&](Statements& s) {
        if (!s.passwordWidth) s.passwordWidth = passwordColumnWidth(db_);
        width = s.passwordWidth;
    });
    return width;
}

std::optional<long long> AccountStore::addCredit(std::string_view user, double amount) {
    forgetRows();
    long long changed = 0;
    const bool ran = attempt([&](Statements& s) {
        PreparedUpdate& update = s.creditUpdate();
        s.user.assign(sendable(s.engine, user));
        s.amount = decimalText(amount);
        changed = writeOnce(s.session, s.engine, [&] { return update.run(); });
    });
    if (!ran) return std::nullopt;
    return changed;
}

bool AccountStore::chargeQuota(std::string_view user, long long amount) {
    forgetRows();
    long long changed = 0;
    attempt([&](Statements& s) {
        PreparedUpdate& update = s.quotaCharge();
        s.user.assign(sendable(s.engine, user));
        s.quotaAmount = amount;
        changed = writeOnce(s.session, s.engine, [&] { return update.run(); });
    });
    return changed > 0;
}

}  // namespace kestrix::plugin

#include "maintenance/migration/account_writer.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_set>

#include "core/database.h"
#include "core/password_storage.h"
#include "core/pg_native.h"
#include "core/schema.h"
#include "core/stored_password.h"
#include "core/unicode_text.h"

namespace kestrix::migration {
namespace {

// Whether the text fits the column: on PostgreSQL a longer one would be
// refused and undo the whole run.
bool fits(std::string_view text, std::string_view table, std::string_view column) {
    const auto length = utf8Length(text);
    return length && *length <= columnCharacters(table, column);
}

bool fitsUsers(std::string_view text, std::string_view column) {
    return fits(text, "users", column);
}

// The domain tables are the template's only; their text columns hold 50.
constexpr std::size_t kDomainTextColumn = 50;

bool fitsDomain(std::string_view text) {
    const auto length = utf8Length(text);
    return length && *length <= kDomainTextColumn && text.find('\0') == std::string_view::npos;
}

// Why the user cannot be written at all; empty when it can.
std::string unusableReason(const MigratedUser& u) {
    if (u.name.empty()) return "the section has no user name";
    if (holdsControlOrFormat(u.name)) return "the name holds invisible characters";
    if (!fitsUsers(u.name, "username")) return "the name is too long for the database";
    if (!fitsUsers(u.homedir, "homedir")) return "the home directory is too long for the database";
    if (u.loginMessageFile && !fitsUsers(*u.loginMessageFile, "login_msg_file"))
        return "the login message file is too long for the database";
    if (u.comments && !fitsUsers(*u.comments, "comments"))
        return "the notes are too long for the database";
    for (const auto& rule : u.rules)
        if (!fits(rule.directory, "dir_rights", "directory"))
            return "a rule directory is too long for the database";
    for (const auto& ip : u.blockedIps)
        if (!fits(ip, "blocked_ips_by_user", "ip"))
            return "a blocked address is too long for the database";
    return {};
}

bool queryRuns(Database& db, const char* sql) {
    return db.query(sql).has_value();
}

struct Cancelled {};

// A refusal, with the user whose row it was when that is known.
struct Refused : std::runtime_error {
    Refused(std::string owner, const std::string& what)
        : std::runtime_error(what), owner(std::move(owner)) {}
    std::string owner;
};

using Row = Database::BoundValues;

// Rows of one table written many at a time: on PostgreSQL through COPY, on
// SQLite many rows to an INSERT. A batch the database refuses is undone to
// its savepoint and written again row by row, so the failure can name the
// user whose row it was.
class BulkInsert {
  public:
    // columnList: the columns, comma-separated, columns of them.
    BulkInsert(Database& db, const std::string& table, const std::string& columnList,
               std::size_t columns, std::size_t rowsPerStatement)
        : db_(db),
          head_("insert into " + table + " (" + columnList + ")"),
          columns_(columns),
          perStatement_(rowsPerStatement) {
        if (db_.engine() == Engine::PostgreSQL) {
            copy_ = "copy " + table + " (" + columnList + ") from stdin";
            // A round trip costs more than a few thousand rows.
            perStatement_ = std::max<std::size_t>(perStatement_, 5000);
        }
    }

    // Writes the rows; after each statement, tells the rows done so far.
    template <class AfterBatch>
    void write(const std::vector<Row>& rows, const std::vector<std::string>& owners,
               AfterBatch&& afterBatch) {
        for (std::size_t start = 0; start < rows.size(); start += perStatement_) {
            const std::size_t count = std::min(perStatement_, rows.size() - start);
            writeBatch(rows, owners, start, count);
            afterBatch(start + count);
        }
    }

  private:
    // Built once for full batches, once more for the shorter last one.
    const std::string& statementFor(std::size_t rowCount) {
        if (rowCount == perStatement_) {
            if (full_.empty()) full_ = statementText(rowCount);
            return full_;
        }
        if (lastRows_ != rowCount) {
            last_ = statementText(rowCount);
            lastRows_ = rowCount;
        }
        return last_;
    }

    // Numbered places for PostgreSQL; plain ones for SQLite, which looks a
    // named place up among all the names before it.
    std::string statementText(std::size_t rowCount) const {
        const bool numbered = db_.engine() == Engine::PostgreSQL;
        std::string text = head_ + " values ";
        std::size_t place = 0;
        for (std::size_t r = 0; r < rowCount; ++r) {
            text += r == 0 ? "(" : ", (";
            for (std::size_t c = 0; c < columns_; ++c) {
                if (c > 0) text += ", ";
                text += numbered ? "$" + std::to_string(++place) : std::string("?");
            }
            text += ")";
        }
        return text;
    }

    void writeBatch(const std::vector<Row>& rows, const std::vector<std::string>& owners,
                    std::size_t start, std::size_t count) {
        run("savepoint kestrix_batch");
        if (!(copy_.empty() ? insertBatch(rows, start, count) : copyBatch(rows, start, count))) {
            run("rollback to savepoint kestrix_batch");
            // One by one, the refused row names its user. Should every row
            // go in alone (a limit of the statement's size), they are written.
            for (std::size_t r = start; r < start + count; ++r)
                if (!db_.executeBound(statementFor(1), rows[r]))
                    throw Refused(owners[r], db_.lastError());
        }
        run("release savepoint kestrix_batch");
    }

    bool insertBatch(const std::vector<Row>& rows, std::size_t start, std::size_t count) {
        Row values;
        values.reserve(count * columns_);
        for (std::size_t r = start; r < start + count; ++r)
            values.insert(values.end(), rows[r].begin(), rows[r].end());
        return db_.executeBound(statementFor(count), values);
    }

    void run(const char* sql) {
        if (!db_.execute(sql)) throw Refused({}, db_.lastError());
    }

    // The rows through COPY; false when refused.
    bool copyBatch(const std::vector<Row>& rows, std::size_t start, std::size_t count) {
        PGconn* conn = pg::connection(db_.session());
        if (conn == nullptr) return false;
        const pg::Result begun(PQexec(conn, copy_.c_str()));
        if (PQresultStatus(begun.get()) != PGRES_COPY_IN) return false;
        std::string data;
        bool sent = true;
        for (std::size_t r = start; r < start + count && sent; ++r) {
            for (std::size_t c = 0; c < rows[r].size(); ++c) {
                if (c > 0) data += '\t';
                pg::appendCopyValue(data, rows[r][c]);
            }
            data += '\n';
            if (data.size() >= 65536) {
                sent = PQputCopyData(conn, data.data(), static_cast<int>(data.size())) == 1;
                data.clear();
            }
        }
        if (sent && !data.empty())
            sent = PQputCopyData(conn, data.data(), static_cast<int>(data.size())) == 1;
        PQputCopyEnd(conn, sent ? nullptr : "the rows could not be sent");
        bool copied = sent;
        while (PGresult* raw = PQgetResult(conn)) {
            const pg::Result result(raw);
            copied = copied && PQresultStatus(raw) == PGRES_COMMAND_OK;
        }
        return copied;
    }

    Database& db_;
    std::string head_;
    std::size_t columns_;
    std::size_t perStatement_;
    std::string full_;
    std::string last_;
    std::size_t lastRows_ = 0;
    std::string copy_;  // PostgreSQL's COPY statement for the table
};

std::string number(long long value) {
    return std::to_string(value);
}

class Writer {
  public:
    Writer(Database& db, const AccountPlan& plan, bool withDomains, const WriteProgress& progress,
           std::size_t passwordWidth)
        : db_(db),
          plan_(plan),
          domains_(withDomains),
          progress_(progress),
          passwordWidth_(passwordWidth) {}

    void write(WriteOutcome& out) {
        const std::vector<std::size_t> chosen = chooseUsers(out);
        writeUsers(chosen);
        writeRules(chosen);
        writeBlockedAddresses(chosen);
        for (std::size_t i : chosen)
            out.written.push_back(plan_.users[i].name);
        if (domains_) writeDomains(chosen, out);
    }

    void tell(std::string_view step, std::size_t done, std::size_t total) {
        if (progress_ && !progress_(WriteStep{std::string(step), done, total})) throw Cancelled{};
    }

  private:
    void run(const std::string& sql) {
        if (!db_.execute(sql)) throw Refused({}, db_.lastError());
    }

    std::vector<std::size_t> rowsOf(const std::string& sql) {
        std::vector<std::size_t> found;
        const bool read = db_.readColumn(sql, {}, [&](Database::ValueView value) {
            if (value) found.push_back(std::stoul(std::string(*value)));
        });
        if (!read) throw Refused({}, db_.lastError());
        return found;
    }

    // The users to write, in file order. The names are compared by the
    // database itself, in the user-name column's own collation, all at once:
    // one query for the names already there, one for names the file repeats.
    std::vector<std::size_t> chooseUsers(WriteOutcome& out) {
        static constexpr std::string_view kStep = "Checking the names";
        const std::size_t total = plan_.users.size();
        tell(kStep, 0, total);
        std::vector<std::string> reasons(total);
        std::vector<Row> names;
        std::vector<std::string> owners;
        for (std::size_t i = 0; i < total; ++i) {
            reasons[i] = unusableReason(plan_.users[i]);
            if (reasons[i].empty() && !passwordFits(plan_.users[i]))
                reasons[i] = "the password is too long for the database";
            if (!reasons[i].empty()) continue;
            names.push_back({number(static_cast<long long>(i)), plan_.users[i].name});
            owners.push_back(plan_.users[i].name);
        }
        run("create temporary table kestrix_migrating (i integer not null, "
            "n text collate nocase not null)");
        BulkInsert(db_, "kestrix_migrating", "i, n", 2, 2000)
            .write(names, owners, [&](std::size_t done) { tell(kStep, done, total); });
        run("create index kestrix_migrating_n on kestrix_migrating (n)");
        for (std::size_t i : rowsOf("select t.i from kestrix_migrating t where exists (select 1 "
                                    "from users u where u.username = t.n)"))
            reasons[i] = "a user of this name is already in the database";
        for (std::size_t i : rowsOf("select t.i from kestrix_migrating t where exists (select 1 "
                                    "from kestrix_migrating e where e.n = t.n and e.i < t.i)"))
            if (reasons[i].empty())
                reasons[i] = "the name is twice in the file: only its first section is migrated";
        run("drop table kestrix_migrating");
        std::vector<std::size_t> chosen;
        for (std::size_t i = 0; i < total; ++i) {
            if (reasons[i].empty())
                chosen.push_back(i);
            else
                out.skipped.emplace_back(plan_.users[i].name, reasons[i]);
        }
        tell(kStep, total, total);
        return chosen;
    }

    void writeUsers(const std::vector<std::size_t>& chosen) {
        static constexpr std::string_view kStep = "Writing the users";
        std::vector<Row> rows;
        std::vector<std::string> owners;
        rows.reserve(chosen.size());
        const std::vector<std::optional<std::string>> passwords = storedPasswords(chosen);
        for (std::size_t k = 0; k < chosen.size(); ++k) {
            rows.push_back(userRow(plan_.users[chosen[k]], passwords[k]));
            owners.push_back(plan_.users[chosen[k]].name);
        }
        std::string columnList =
            "username, homedir, login_msg_file, password, hide_hidden_files, rel_path, use_quota, "
            "quota_max, quota_current, always_login, one_login_per_ip, speed_limit_value, "
            "timeout, session_timeout, max_concurrent, max_logins_per_ip, disable_user, comments";
        if (domains_) columnList += ", domainID";
        const std::size_t columns = domains_ ? 19 : 18;
        tell(kStep, 0, rows.size());
        BulkInsert(db_, "users", columnList, columns, 500)
            .write(rows, owners, [&](std::size_t done) { tell(kStep, done, rows.size()); });
    }

    // A plain password from the file is stored as its hash where the
    // column takes one; the file's own hashes as they are (the plug-in
    // replaces them at the user's next login).
    bool hashesPassword(const MigratedUser& u) const {
        return u.password && !u.password->empty() &&
               storedPasswordForm(*u.password) == PasswordForm::Plain &&
               passwordWidth_ >= hashedPasswordCharacters();
    }

    bool passwordFits(const MigratedUser& u) const {
        if (!u.password || hashesPassword(u)) return true;
        const auto length = utf8Length(*u.password);
        return length && *length <= passwordWidth_;
    }

    std::optional<std::string> storedPassword(const MigratedUser& u) const {
        if (!hashesPassword(u)) {
            if (u.password && !u.password->empty() &&
                storedPasswordForm(*u.password) == PasswordForm::Plain)
                noteClearTextPasswords();
            return u.password;
        }
        auto hash = hashPassword(*u.password);
        if (!hash) throw Refused(u.name, "the password could not be hashed");
        return hash;
    }

    // The stored passwords of the chosen users, in their order. A slow hash
    // each: they are made on every core at once.
    std::vector<std::optional<std::string>> storedPasswords(
        const std::vector<std::size_t>& chosen) const {
        std::vector<std::optional<std::string>> passwords(chosen.size());
        std::atomic<std::size_t> next{0};
        std::mutex failureMutex;
        std::optional<Refused> failure;
        const auto work = [&] {
            for (std::size_t k = next++; k < chosen.size(); k = next++) {
                try {
                    passwords[k] = storedPassword(plan_.users[chosen[k]]);
                } catch (const Refused& e) {
                    const std::lock_guard lock(failureMutex);
                    if (!failure) failure.emplace(e);
                }
            }
        };
        std::vector<std::thread> helpers;
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned t = 1; t < cores && t < chosen.size(); ++t)
            helpers.emplace_back(work);
        work();
        for (std::thread& helper : helpers)
            helper.join();
        if (failure) throw *failure;
        return passwords;
    }

    Row userRow(const MigratedUser& u, const std::optional<std::string>& password) const {
        const auto optionalNumber = [](const std::optional<double>& value) {
            return value ? std::optional<std::string>(number(static_cast<long long>(*value)))
                         : std::nullopt;
        };
        Row row{u.name,
                u.homedir,
                u.loginMessageFile,
                password,
                number(u.hideHiddenFiles),
                number(u.relPath),
                number(u.useQuota),
                optionalNumber(u.quotaMax),
                number(static_cast<long long>(u.quotaCurrent)),
                number(u.alwaysLogin),
                number(0),
                u.speedLimitKbps,
                number(u.timeoutMinutes),
                number(u.sessionTimeoutMinutes),
                number(u.maxConcurrent),
                number(u.maxLoginsPerIp),
                number(u.disabled),
                u.comments};
        if (domains_)
            row.push_back(u.domainNumber ? std::optional<std::string>(number(*u.domainNumber))
                                         : std::nullopt);
        return row;
    }

    void writeRules(const std::vector<std::size_t>& chosen) {
        static constexpr std::string_view kStep = "Writing the directory rules";
        std::vector<Row> rows;
        std::vector<std::string> owners;
        for (std::size_t i : chosen) {
            const MigratedUser& u = plan_.users[i];
            for (const auto& rule : u.rules) {
                rows.push_back({u.name, rule.directory, rule.rights, number(rule.inheritSubdirs)});
                owners.push_back(u.name);
            }
        }
        tell(kStep, 0, rows.size());
        BulkInsert(db_, "dir_rights", "username, directory, dir_rights, inherit_subdirs", 4, 2000)
            .write(rows, owners, [&](std::size_t done) { tell(kStep, done, rows.size()); });
    }

    void writeBlockedAddresses(const std::vector<std::size_t>& chosen) {
        static constexpr std::string_view kStep = "Writing the blocked addresses";
        std::vector<Row> rows;
        std::vector<std::string> owners;
        for (std::size_t i : chosen) {
            const MigratedUser& u = plan_.users[i];
            for (const auto& ip : u.blockedIps) {
                rows.push_back({u.name, ip});
                owners.push_back(u.name);
            }
        }
        tell(kStep, 0, rows.size());
        BulkInsert(db_, "blocked_ips_by_user", "username, ip", 2, 2000)
            .write(rows, owners, [&](std::size_t done) { tell(kStep, done, rows.size()); });
    }

    void writeDomains(const std::vector<std::size_t>& chosen, WriteOutcome& out) {
        static constexpr std::string_view kStep = "Writing the domains";
        const std::size_t total = plan_.domains.size() + plan_.members.size();
        tell(kStep, 0, total);
        std::size_t done = 0;
        for (const auto& d : plan_.domains) {
            tell(kStep, done++, total);
            if (!fitsDomain(d.name) || !fitsDomain(d.address) || !fitsDomain(d.port) ||
                !fitsDomain(d.identity) || !fitsDomain(d.second) || !fitsDomain(d.rest)) {
                out.domainsSkipped.emplace_back(
                    d.name, "a value is longer than 50 characters or holds a NUL character");
                continue;
            }
            auto existing = db_.queryBound("select count(*) as n from domains where DOMAINID=:id",
                                           {number(d.number)});
            if (!existing) throw Refused({}, db_.lastError());
            if (existing->integer("n").value_or(0) > 0) {
                out.domainsSkipped.emplace_back(d.name,
                                                "a domain of this number is already in "
                                                "the database");
                continue;
            }
            if (!db_.executeBound(
                    "insert into domains (DOMAINIDENTITY, IPADDRESS, IMPERCEPTUS, "
                    "PORT, DOMAINNAME, DOMAINID, NUSQUAM) values (:i, :a, :s, :p, "
                    ":n, :id, :r)",
                    {d.identity, d.address, d.second, d.port, d.name, number(d.number), d.rest}))
                throw Refused({}, db_.lastError());
            out.domainsWritten.push_back(d.name);
        }
        // A member row only for the account of that domain that was written:
        // a name of one domain skipped because another domain's is stored
        // gets none.
        std::unordered_set<std::string> written;
        for (std::size_t i : chosen) {
            const MigratedUser& u = plan_.users[i];
            if (u.domainNumber) written.insert(number(*u.domainNumber) + "|" + u.name);
        }
        std::vector<Row> rows;
        std::vector<std::string> owners;
        for (const auto& m : plan_.members) {
            if (!written.contains(number(m.domainNumber) + "|" + m.userName)) continue;
            if (!fitsDomain(m.domainIdentity) || !fitsDomain(m.userIdentity) ||
                !fitsDomain(m.flags))
                continue;
            rows.push_back(
                {m.domainIdentity, m.userIdentity, m.userName, number(m.domainNumber), m.flags});
            owners.push_back(m.userName);
        }
        done = plan_.domains.size();
        BulkInsert(db_, "domainDetails",
                   "DOMAINIDENTITY, USERIDENTITY, USERNAME, DOMAINID, NUSQUAM", 5, 1000)
            .write(rows, owners, [&](std::size_t batch) { tell(kStep, done + batch, total); });
        tell(kStep, total, total);
    }

    Database& db_;
    const AccountPlan& plan_;
    bool domains_;
    const WriteProgress& progress_;
    std::size_t passwordWidth_;
};

}  // namespace

WriteOutcome writeAccounts(Database& db, const AccountPlan& plan, bool withDomains,
                           const WriteProgress& progress) {
    WriteOutcome out;
    // Probed before the transaction: a failed statement inside one would
    // spoil it on PostgreSQL.
    if (withDomains && !(queryRuns(db, "select domainID from users where 1=0") &&
                         queryRuns(db, "select DOMAINID from domains where 1=0") &&
                         queryRuns(db, "select USERNAME from domainDetails where 1=0"))) {
        withDomains = false;
        out.domainTablesMissing = true;
    }
    const std::size_t passwordWidth =
        passwordColumnWidth(db).value_or(columnCharacters("users", "password"));
    if (!db.begin()) {
        out.failure = db.lastError();
        return out;
    }
    const auto undo = [&](std::string failure) {
        db.rollback();
        out.failure = std::move(failure);
        out.written.clear();
        out.skipped.clear();
        out.domainsWritten.clear();
        out.domainsSkipped.clear();
        return out;
    };
    Writer writer(db, plan, withDomains, progress, passwordWidth);
    try {
        writer.write(out);
        writer.tell("Committing", 0, 1);
    } catch (const Cancelled&) {
        out.cancelled = true;
        return undo("cancelled");
    } catch (const Refused& e) {
        return undo((e.owner.empty() ? std::string("while writing the accounts")
                                     : "while writing user " + e.owner) +
                    ": " + e.what());
    } catch (const std::exception& e) {
        return undo("while writing the accounts: " + describeFailure(e));
    }
    if (!db.commit()) {
        return undo("while committing: " + db.lastError());
    }
    if (progress) progress(WriteStep{"Committing", 1, 1});
    out.committed = true;
    return out;
}

}  // namespace kestrix::migration

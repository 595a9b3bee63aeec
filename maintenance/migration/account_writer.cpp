#include "maintenance/migration/account_writer.h"

#include <soci/soci.h>

#include <algorithm>
#include <optional>

#include "core/database.h"
#include "core/schema.h"
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
    return length && *length <= kDomainTextColumn;
}

// Why the user cannot be written at all; empty when it can.
std::string unusableReason(const MigratedUser& u) {
    if (u.name.empty()) return "the section has no user name";
    if (holdsControlOrFormat(u.name)) return "the name holds invisible characters";
    if (!fitsUsers(u.name, "username")) return "the name is too long for the database";
    if (!fitsUsers(u.homedir, "homedir")) return "the home directory is too long for the database";
    if (u.password && !fitsUsers(*u.password, "password"))
        return "the password is too long for the database";
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

class Writer {
  public:
    Writer(Database& db, bool withDomains) : s_(db.session()), domains_(withDomains) {}

    void writeUser(const MigratedUser& u, WriteOutcome& out) {
        if (std::string reason = unusableReason(u); !reason.empty()) {
            out.skipped.emplace_back(u.name, reason);
            return;
        }
        int existing = 0;
        s_ << "select count(*) from users where username=:n", soci::into(existing),
            soci::use(u.name);
        if (existing > 0) {
            out.skipped.emplace_back(u.name, "a user of this name is already in the database");
            return;
        }
        insertUserRow(u);
        for (const auto& rule : u.rules) {
            s_ << "insert into dir_rights (username, directory, dir_rights, inherit_subdirs) "
                  "values (:u, :d, :r, :i)",
                soci::use(u.name), soci::use(rule.directory), soci::use(rule.rights),
                soci::use(rule.inheritSubdirs);
        }
        for (const auto& ip : u.blockedIps) {
            s_ << "insert into blocked_ips_by_user (username, ip) values (:u, :ip)",
                soci::use(u.name), soci::use(ip);
        }
        out.written.push_back(u.name);
        written_.push_back(&u);
    }

    void writeDomains(const AccountPlan& plan, WriteOutcome& out) {
        for (const auto& d : plan.domains) {
            if (!fitsDomain(d.name) || !fitsDomain(d.address) || !fitsDomain(d.port) ||
                !fitsDomain(d.identity) || !fitsDomain(d.second) || !fitsDomain(d.rest)) {
                out.domainsSkipped.emplace_back(d.name, "a value is longer than 50 characters");
                continue;
            }
            int existing = 0;
            s_ << "select count(*) from domains where DOMAINID=:id", soci::into(existing),
                soci::use(d.number);
            if (existing > 0) {
                out.domainsSkipped.emplace_back(d.name,
                                                "a domain of this number is already in "
                                                "the database");
                continue;
            }
            s_ << "insert into domains (DOMAINIDENTITY, IPADDRESS, IMPERCEPTUS, PORT, DOMAINNAME, "
                  "DOMAINID, NUSQUAM) values (:i, :a, :s, :p, :n, :id, :r)",
                soci::use(d.identity), soci::use(d.address), soci::use(d.second), soci::use(d.port),
                soci::use(d.name), soci::use(d.number), soci::use(d.rest);
            out.domainsWritten.push_back(d.name);
        }
        for (const auto& m : plan.members) {
            if (!writtenInDomain(m)) continue;
            s_ << "insert into domainDetails (DOMAINIDENTITY, USERIDENTITY, USERNAME, DOMAINID, "
                  "NUSQUAM) values (:d, :u, :n, :id, :f)",
                soci::use(m.domainIdentity), soci::use(m.userIdentity), soci::use(m.userName),
                soci::use(m.domainNumber), soci::use(m.flags);
        }
    }

  private:
    void insertUserRow(const MigratedUser& u) {
        const soci::indicator noValue = soci::i_null;
        const soci::indicator value = soci::i_ok;
        const std::string password = u.password.value_or("");
        soci::indicator passwordSet = u.password ? value : noValue;
        const std::string message = u.loginMessageFile.value_or("");
        soci::indicator messageSet = u.loginMessageFile ? value : noValue;
        const std::string comments = u.comments.value_or("");
        soci::indicator commentsSet = u.comments ? value : noValue;
        const long long quotaMax = u.quotaMax.value_or(0);
        soci::indicator quotaSet = u.quotaMax ? value : noValue;
        const long long quotaCurrent = u.quotaCurrent;
        const int maxConcurrent = static_cast<int>(u.maxConcurrent);
        const int maxPerIp = static_cast<int>(u.maxLoginsPerIp);
        const int timeout = static_cast<int>(u.timeoutMinutes);
        const int session = static_cast<int>(u.sessionTimeoutMinutes);
        const int onePerIp = 0;
        const int domain = static_cast<int>(u.domainNumber.value_or(0));
        soci::indicator domainSet = u.domainNumber ? value : noValue;

        const std::string columns =
            "insert into users (username, homedir, login_msg_file, password, hide_hidden_files, "
            "rel_path, use_quota, quota_max, quota_current, always_login, one_login_per_ip, "
            "speed_limit_value, timeout, session_timeout, max_concurrent, max_logins_per_ip, "
            "disable_user, comments";
        const std::string values =
            ") values (:n, :h, :m, :p, :hide, :rel, :uq, :qmax, :qcur, :always, :one, :speed, "
            ":t, :st, :mc, :mpi, :dis, :c";
        if (domains_) {
            s_ << columns + ", domainID" + values + ", :dom)", soci::use(u.name),
                soci::use(u.homedir), soci::use(message, messageSet),
                soci::use(password, passwordSet), soci::use(u.hideHiddenFiles),
                soci::use(u.relPath), soci::use(u.useQuota), soci::use(quotaMax, quotaSet),
                soci::use(quotaCurrent), soci::use(u.alwaysLogin), soci::use(onePerIp),
                soci::use(u.speedLimitKbps), soci::use(timeout), soci::use(session),
                soci::use(maxConcurrent), soci::use(maxPerIp), soci::use(u.disabled),
                soci::use(comments, commentsSet), soci::use(domain, domainSet);
        } else {
            s_ << columns + values + ")", soci::use(u.name), soci::use(u.homedir),
                soci::use(message, messageSet), soci::use(password, passwordSet),
                soci::use(u.hideHiddenFiles), soci::use(u.relPath), soci::use(u.useQuota),
                soci::use(quotaMax, quotaSet), soci::use(quotaCurrent), soci::use(u.alwaysLogin),
                soci::use(onePerIp), soci::use(u.speedLimitKbps), soci::use(timeout),
                soci::use(session), soci::use(maxConcurrent), soci::use(maxPerIp),
                soci::use(u.disabled), soci::use(comments, commentsSet);
        }
    }

    // A member row only for the account of that domain that was written: a
    // name of one domain skipped because another domain's is stored gets none.
    bool writtenInDomain(const DomainMember& m) const {
        return std::any_of(written_.begin(), written_.end(), [&](const MigratedUser* u) {
            return u->domainNumber == m.domainNumber && u->name == m.userName;
        });
    }

    soci::session& s_;
    bool domains_;
    std::vector<const MigratedUser*> written_;
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
    if (!db.begin()) {
        out.failure = db.lastError();
        return out;
    }
    std::size_t current = 0;
    try {
        Writer writer(db, withDomains);
        for (; current < plan.users.size(); ++current) {
            writer.writeUser(plan.users[current], out);
            if (progress) progress(current + 1, plan.users.size());
        }
        if (withDomains) writer.writeDomains(plan, out);
    } catch (const std::exception& e) {
        db.rollback();
        out.failure =
            (current < plan.users.size() ? "while writing user " + plan.users[current].name
                                         : std::string("while writing the domains")) +
            ": " + describeFailure(e);
        out.written.clear();
        out.domainsWritten.clear();
        return out;
    }
    if (!db.commit()) {
        db.rollback();
        out.failure = "while committing: " + db.lastError();
        out.written.clear();
        out.domainsWritten.clear();
        return out;
    }
    out.committed = true;
    return out;
}

}  // namespace kestrix::migration

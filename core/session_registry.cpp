#include "core/session_registry.h"

#include <cctype>

#include "core/database.h"

namespace kestrix {

namespace {

// A row counts while its last heartbeat is younger than its lifetime.
constexpr const char* kLive = "heartbeat >= now() - lifetime * interval '1 second'";

constexpr const char* kListed =
    "select id, host, process, account, address, "
    "to_char(since at time zone 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), "
    "to_char(heartbeat at time zone 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), "
    "case when ended then 1 else 0 end from sessions";

long long numberOf(const std::optional<std::string>& text) {
    try {
        return text ? std::stoll(*text) : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

ListedSession listedOf(const Database::TextRow& row) {
    ListedSession session;
    session.id = numberOf(row[0]);
    session.host = row[1].value_or("");
    session.process = numberOf(row[2]);
    session.account = row[3].value_or("");
    session.address = row[4].value_or("");
    session.since = row[5].value_or("");
    session.heartbeat = row[6].value_or("");
    session.ended = row[7].value_or("0") == "1";
    return session;
}

bool isNumber(std::string_view text) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string idList(const std::vector<long long>& ids) {
    std::string list;
    for (long long id : ids)
        list += (list.empty() ? "" : ",") + std::to_string(id);
    return list;
}

}  // namespace

std::string sessionsTableStatement() {
    return "CREATE TABLE IF NOT EXISTS sessions ("
           "id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, "
           "host VARCHAR(255) NOT NULL, "
           "process BIGINT NOT NULL, "
           "account VARCHAR(50) NOT NULL, "
           "address VARCHAR(64) NOT NULL, "
           "since TIMESTAMPTZ NOT NULL DEFAULT now(), "
           "heartbeat TIMESTAMPTZ NOT NULL DEFAULT now(), "
           "lifetime INTEGER NOT NULL, "
           "ended BOOLEAN NOT NULL DEFAULT false)";
}

Admission admitSession(Database& db, const SessionEntry& entry, const SessionLimits& limits) {
    Admission admission;
    const auto failed = [&] {
        db.rollback();
        return admission;
    };
    if (!db.begin()) return admission;
    // The account's lock: every host's logins of the account wait here for
    // each other, and the count below sees every earlier admission.
    if (!db.readColumn("select pg_advisory_xact_lock(hashtext('kestrix session ' || lower(:v1)))",
                       {entry.account}, [](Database::ValueView) {}))
        return failed();
    // Only the account's own stale rows: the lock serialises them, where
    // two hosts removing every stale row at once could deadlock.
    if (!db.executeBound(std::string("delete from sessions where lower(account) = lower(:v1) and "
                                     "not (") +
                             kLive + ")",
                         {entry.account}))
        return failed();
    long long ofAccount = 0, fromAddress = 0;
    // Placeholders are bound in the order they appear.
    if (!db.readText("select count(*) filter (where address = :v1), count(*) from sessions "
                     "where lower(account) = lower(:v2) and not ended",
                     {entry.address, entry.account}, 2, [&](const Database::TextRow& row) {
                         fromAddress = numberOf(row[0]);
                         ofAccount = numberOf(row[1]);
                     }))
        return failed();
    if (limits.perAccount > 0 && ofAccount >= limits.perAccount) {
        admission.outcome = Admission::AccountFull;
        db.rollback();
        return admission;
    }
    if (limits.perAddress > 0 && fromAddress >= limits.perAddress) {
        admission.outcome = Admission::AddressFull;
        db.rollback();
        return admission;
    }
    long long id = 0;
    if (!db.readColumn("insert into sessions (host, process, account, address, lifetime) "
                       "values (:v1, cast(:v2 as bigint), :v3, :v4, cast(:v5 as integer)) "
                       "returning id",
                       {entry.host, std::to_string(entry.process), entry.account, entry.address,
                        std::to_string(entry.lifetimeSeconds)},
                       [&](Database::ValueView value) {
                           if (value) id = numberOf(std::string(*value));
                       }) ||
        id == 0 || !db.commit())
        return failed();
    admission.outcome = Admission::Admitted;
    admission.id = id;
    return admission;
}

bool heartbeatSessions(Database& db, const std::vector<long long>& ids) {
    if (ids.empty()) return true;
    return db.execute("update sessions set heartbeat = now() where id in (" + idList(ids) + ")");
}

bool purgeStaleSessions(Database& db) {
    return db.execute(std::string("delete from sessions where not (") + kLive + ")");
}

bool removeSession(Database& db, long long id) {
    return db.execute("delete from sessions where id = " + std::to_string(id));
}

std::optional<bool> sessionEnded(Database& db, long long id) {
    bool ended = true;
    if (!db.readColumn("select ended from sessions where id = " + std::to_string(id), {},
                       [&](Database::ValueView value) {
                           ended = value && (*value == "t" || *value == "1" || *value == "true");
                       }))
        return std::nullopt;
    return ended;
}

std::optional<std::vector<ListedSession>> liveSessions(Database& db) {
    std::vector<ListedSession> sessions;
    if (!db.readText(std::string(kListed) + " where " + kLive + " order by since, id", {}, 8,
                     [&](const Database::TextRow& row) { sessions.push_back(listedOf(row)); }))
        return std::nullopt;
    return sessions;
}

std::optional<std::vector<ListedSession>> endSessions(Database& db, std::string_view userOrId) {
    std::vector<ListedSession> ended;
    const auto collect = [&](const Database::TextRow& row) { ended.push_back(listedOf(row)); };
    const std::string marked =
        std::string("with marked as (update sessions set ended = true where ") + kLive +
        " and not ended and ";
    const std::string returning =
        " returning *) " +
        std::string(kListed).replace(std::string(kListed).rfind("sessions"), 8, "marked");
    if (isNumber(userOrId) && !db.readText(marked + "id = cast(:v1 as bigint)" + returning,
                                           {std::string(userOrId)}, 8, collect))
        return std::nullopt;
    if (ended.empty() && !db.readText(marked + "lower(account) = lower(:v1)" + returning,
                                      {std::string(userOrId)}, 8, collect))
        return std::nullopt;
    return ended;
}

}  // namespace kestrix

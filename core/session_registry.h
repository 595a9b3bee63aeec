#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

class Database;

// The logged-in FTP sessions of every host on one PostgreSQL database: each
// answering service registers its sessions in the sessions table and keeps
// them alive with a heartbeat; a row whose heartbeat is older than its
// lifetime belongs to a host that died and counts no more. With SQLite (one
// host) each FTP server counts its own sessions and the table stays unused.

// The table, made when missing.
std::string sessionsTableStatement();

// A session asking to be let in.
struct SessionEntry {
    std::string host;
    long long process = 0;
    std::string account;
    std::string address;
    int lifetimeSeconds = 30;
};

// 0 for no limit.
struct SessionLimits {
    long long perAccount = 0;
    long long perAddress = 0;
};

struct Admission {
    enum Outcome { Admitted, AccountFull, AddressFull, Failed } outcome = Failed;
    long long id = 0;  // the new row's, when admitted
};

// Counts the account's live sessions, and those from the entry's address,
// under the account's lock, and registers the entry when the limits allow
// it: logins at the same moment on any host cannot pass a limit together.
// The account's stale rows are removed on the way. Failed: see the database's lastError.
Admission admitSession(Database& db, const SessionEntry& entry, const SessionLimits& limits);

// One statement for all the given sessions: they are alive now.
bool heartbeatSessions(Database& db, const std::vector<long long>& ids);
bool removeSession(Database& db, long long id);
// Removes the rows of every host whose heartbeat is stale.
bool purgeStaleSessions(Database& db);
// Whether the session was ended by an administrator (or its row is gone);
// no value when the database did not answer.
std::optional<bool> sessionEnded(Database& db, long long id);

struct ListedSession {
    long long id = 0;
    std::string host;
    long long process = 0;
    std::string account;
    std::string address;
    std::string since;      // UTC, ISO 8601
    std::string heartbeat;  // UTC, ISO 8601
    bool ended = false;     // ended by an administrator, not yet left
};

// The live sessions of every host, oldest first; no value on failure.
std::optional<std::vector<ListedSession>> liveSessions(Database& db);

// Marks the live sessions of the given id (when it is a number naming a
// session) or else of the given account as ended; their services end them
// at their next command. How many were marked; no value on failure.
std::optional<std::vector<ListedSession>> endSessions(Database& db, std::string_view userOrId);

}  // namespace kestrix

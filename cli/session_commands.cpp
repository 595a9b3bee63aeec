// session list|end: the logged-in FTP sessions of every host on the
// database, as their answering services registered them.
#include <iostream>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/loaded_user.h"
#include "core/audit_trail.h"
#include "core/database.h"
#include "core/session_registry.h"

namespace kestrix::cli {

namespace {

// With SQLite each FTP server counts its own sessions: none are registered.
bool sessionsRegistered(Database& db) {
    if (db.engine() == Engine::PostgreSQL) return true;
    refuse(
        "With an SQLite database each FTP server counts its own sessions: none are "
        "registered in the database.");
    return false;
}

std::string jsonOf(const ListedSession& session) {
    JsonObject object;
    object.number("id", std::to_string(session.id))
        .text("host", session.host)
        .number("process", std::to_string(session.process))
        .text("account", session.account)
        .text("address", session.address)
        .text("since", session.since)
        .text("heartbeat", session.heartbeat)
        .flag("ended", session.ended);
    return object.str();
}

}  // namespace

int sessionList(const Invocation& in) {
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    if (!sessionsRegistered(db)) return kExitRefused;
    const auto sessions = liveSessions(db);
    if (!sessions) {
        const std::string failure = db.lastError();
        closeDatabase(db);
        return refuse(terminalText(failure));
    }
    closeDatabase(db);
    if (in.json()) {
        std::vector<std::string> rows;
        for (const ListedSession& session : *sessions)
            rows.push_back(jsonOf(session));
        std::cout << jsonArray(rows) << '\n';
        return kExitDone;
    }
    for (const ListedSession& session : *sessions)
        std::cout << session.id << '\t' << terminalText(session.host) << '\t' << session.process
                  << '\t' << terminalText(session.account) << '\t' << terminalText(session.address)
                  << '\t' << session.since << (session.ended ? "\tending" : "") << '\n';
    return kExitDone;
}

int sessionEnd(const Invocation& in) {
    const std::string& target = in.operands[0];
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    if (!sessionsRegistered(db)) return kExitRefused;
    const auto ended = endSessions(db, target);
    if (!ended) {
        const std::string failure = db.lastError();
        closeDatabase(db);
        return refuse(terminalText(failure));
    }
    closeDatabase(db);
    if (ended->empty())
        return refuse("No open session is " + terminalText(target) +
                      " (kestrix session list shows them).");
    for (const ListedSession& session : *ended) {
        audit::Change change;
        change.origin = "kestrix session end";
        change.ftpUser = session.account;
        change.what = "session " + std::to_string(session.id) + " on " + session.host + " from " +
                      session.address + " ended";
        audit::record(change);
        std::cout << "Session " << session.id << " of " << terminalText(session.account) << " on "
                  << terminalText(session.host) << " ends at its next command.\n";
    }
    return kExitDone;
}

}  // namespace kestrix::cli

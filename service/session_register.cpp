#include "service/session_register.h"

#include <unistd.h>

#include <charconv>
#include <vector>

#include "core/settings_store.h"
#include "service/service_log.h"

namespace kestrix::service {

namespace {

constexpr const char* kServiceKey = "Software\\Kestrix\\Quellind";
constexpr int kDefaultLifetime = 30;

std::string machineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

}  // namespace

SessionRegister::Settings SessionRegister::fromSettings(const SettingsStore& store) {
    Settings settings;
    settings.host = store.readValue(kServiceKey, "HostName");
    if (settings.host.empty()) settings.host = machineName();
    const std::string text = store.readValue(kServiceKey, "SessionTimeout");
    int seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || seconds < 1) {
        if (!text.empty())
            logWarning("SessionTimeout \"" + text + "\" is not a number of seconds; " +
                       std::to_string(kDefaultLifetime) + " it is");
        seconds = kDefaultLifetime;
    }
    settings.lifetime = std::chrono::seconds(seconds);
    return settings;
}

SessionRegister::SessionRegister(Settings settings) : settings_(std::move(settings)) {
    beater_ = std::thread([this] { beat(); });
}

SessionRegister::~SessionRegister() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    beater_.join();
}

bool SessionRegister::ready() {
    if (local_) return true;
    if (db_.isOpen()) return true;
    if (!openDatabase(db_, 1)) return false;
    if (db_.engine() != Engine::PostgreSQL) {
        local_ = true;
        logInfo("SQLite: each FTP server counts its own sessions");
        return true;
    }
    bool present = false;
    if (!db_.readColumn("select to_regclass('sessions')::text", {},
                        [&](Database::ValueView name) { present = name.has_value(); })) {
        db_.close();
        return false;
    }
    if (!present) {
        local_ = true;
        logWarning(
            "the database has no sessions table (kestrix db upgrade adds it): each FTP server "
            "counts its own sessions");
    }
    return true;
}

SessionRegister::Result SessionRegister::admit(const std::string& account,
                                               const std::string& address, long long process,
                                               const SessionLimits& limits) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready()) return {Outcome::NotAnswering};
    if (local_) return {Outcome::CountLocally};
    SessionEntry entry;
    entry.host = settings_.host;
    entry.process = process;
    entry.account = account;
    entry.address = address;
    entry.lifetimeSeconds = static_cast<int>(settings_.lifetime.count());
    const Admission admission = admitSession(db_, entry, limits);
    switch (admission.outcome) {
        case Admission::Admitted:
            ids_.insert(admission.id);
            return {Outcome::Admitted, admission.id};
        case Admission::AccountFull:
            return {Outcome::AccountFull};
        case Admission::AddressFull:
            return {Outcome::AddressFull};
        case Admission::Failed:
            break;
    }
    logError("a session of " + account + " could not be registered: " + db_.lastError());
    return {Outcome::NotAnswering};
}

void SessionRegister::leave(long long id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ids_.erase(id) == 0) return;
    // A row left behind counts no more once its heartbeat is stale.
    if (ready() && !removeSession(db_, id))
        logWarning("session " + std::to_string(id) +
                   " stays registered until its heartbeat is stale: " + db_.lastError());
}

void SessionRegister::leaveAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const long long id : ids_)
        if (!removeSession(db_, id)) break;
    ids_.clear();
}

std::optional<bool> SessionRegister::ended(long long id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready()) return std::nullopt;
    return sessionEnded(db_, id);
}

void SessionRegister::beat() {
    // Three beats to a lifetime: one missed beat ends no session.
    const auto interval = std::max<std::chrono::milliseconds>(
        std::chrono::duration_cast<std::chrono::milliseconds>(settings_.lifetime) / 3,
        std::chrono::milliseconds(200));
    bool failing = false;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, interval);
        if (stopping_ || ids_.empty() || local_) continue;
        const std::vector<long long> ids(ids_.begin(), ids_.end());
        const bool beaten = ready() && heartbeatSessions(db_, ids);
        // Rows of dead hosts; one that fails goes at a later beat.
        if (beaten) (void)purgeStaleSessions(db_);
        if (!beaten && !failing)
            logError("the sessions' heartbeat is not reaching the database: " + db_.lastError());
        else if (beaten && failing)
            logInfo("the sessions' heartbeat reaches the database again");
        failing = !beaten;
    }
}

}  // namespace kestrix::service

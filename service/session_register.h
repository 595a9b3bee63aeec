#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "core/database.h"
#include "core/session_registry.h"

namespace kestrix {
class SettingsStore;
}

namespace kestrix::service {

// This host's part in counting sessions across hosts: admits and registers
// the sessions of its connections in the database, beats their heartbeat
// and signs them off. With SQLite, or a database without the sessions
// table, each FTP server counts its own sessions.
class SessionRegister {
  public:
    struct Settings {
        std::string host;
        std::chrono::seconds lifetime{30};
    };
    // Key "Software\Kestrix\Quellind": HostName (default the machine's
    // name) and SessionTimeout (seconds of missed heartbeats after which a
    // host's sessions count no more; default 30).
    static Settings fromSettings(const SettingsStore& store);

    explicit SessionRegister(Settings settings);
    ~SessionRegister();
    SessionRegister(const SessionRegister&) = delete;
    SessionRegister& operator=(const SessionRegister&) = delete;

    enum class Outcome { Admitted, AccountFull, AddressFull, CountLocally, NotAnswering };
    struct Result {
        Outcome outcome;
        long long id = 0;
    };
    Result admit(const std::string& account, const std::string& address, long long process,
                 const SessionLimits& limits);
    // The session's connection closed.
    void leave(long long id);
    // The service stops: every session it holds goes with it.
    void leaveAll();
    // Whether an administrator ended the session, or its registration is
    // gone (its slot was freed); no value when the database did not answer.
    std::optional<bool> ended(long long id);

  private:
    // Under mutex_. False when the database cannot be opened; sets local_
    // when sessions are not counted in it.
    bool ready();
    void beat();

    const Settings settings_;
    std::mutex mutex_;
    Database db_;
    bool local_ = false;
    std::set<long long> ids_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread beater_;
};

}  // namespace kestrix::service

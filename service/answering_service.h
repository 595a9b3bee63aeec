#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "service/charge_queue.h"
#include "service/plugin_library.h"
#include "service/quellind_wire.h"
#include "service/session_guard.h"
#include "service/session_register.h"

namespace kestrix::service {

// Answers the requests of every session's connection from the one loaded
// plug-in, and writes the quota and credit changes the database could not
// take when they came.
class AnsweringService {
  public:
    AnsweringService(const PluginLibrary& library, ChargeQueue& charges, SessionRegister& sessions);
    ~AnsweringService();
    AnsweringService(const AnsweringService&) = delete;
    AnsweringService& operator=(const AnsweringService&) = delete;

    // One request of the session whose connection guard is given.
    [[nodiscard]] quellind_reply answer(SessionGuard& guard, const quellind_request& request);
    // The session's connection closed: its registration goes.
    void closed(SessionGuard& guard);

  private:
    quellind_status ask(SessionGuard& guard, quellind_record& record);
    quellind_status stillAllowed(SessionGuard& guard, quellind_record& record);
    quellind_status admit(SessionGuard& guard, quellind_record& record);
    // The database's state as the last answer found it, logged when it
    // changes.
    void databaseAnswered(bool failed, int32_t code);
    void writeQueuedCharges();

    const PluginLibrary& library_;
    ChargeQueue& charges_;
    SessionRegister& sessions_;
    std::atomic<bool> databaseDown_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread writer_;
};

}  // namespace kestrix::service

#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

namespace kestrix::plugin {

// Cuts off database round trips that outlive their time limit. A server
// that stops answering (its process stopped, its host gone) leaves the
// client waiting on its socket for ever, and no limit kept by the server can
// end that wait: when a deadline passes, the socket is shut down, so the
// wait ends at once with a broken connection.
class DeadlineWatch {
    struct Deadline {
        std::chrono::steady_clock::time_point when;
        int socket;
        bool expired;
    };

  public:
    DeadlineWatch() = default;
    ~DeadlineWatch();
    DeadlineWatch(const DeadlineWatch&) = delete;
    DeadlineWatch& operator=(const DeadlineWatch&) = delete;

    // One round trip on a socket, watched while the object lives.
    class Armed {
      public:
        Armed(DeadlineWatch& watch, int socket, std::chrono::milliseconds limit);
        ~Armed();
        Armed(const Armed&) = delete;
        Armed& operator=(const Armed&) = delete;

        // Stops watching; true when the deadline had passed and the socket
        // was shut down.
        [[nodiscard]] bool disarm();

      private:
        DeadlineWatch& watch_;
        std::list<Deadline>::iterator entry_;
        bool armed_ = true;
        bool expired_ = false;
    };

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::list<Deadline> deadlines_;
    // When the watching thread wakes next on its own; it is woken only for
    // an earlier deadline, so a steady stream of round trips costs it no
    // wake-up each.
    std::chrono::steady_clock::time_point wakesAt_ = std::chrono::steady_clock::time_point::max();
    std::thread thread_;
    bool stopping_ = false;
};

}  // namespace kestrix::plugin

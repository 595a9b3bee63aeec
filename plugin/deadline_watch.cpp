#include "plugin/deadline_watch.h"

#include <sys/socket.h>

#include <algorithm>

namespace kestrix::plugin {

DeadlineWatch::~DeadlineWatch() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

DeadlineWatch::Armed::Armed(DeadlineWatch& watch, int socket, std::chrono::milliseconds limit)
    : watch_(watch) {
    bool earlier = false;
    {
        std::lock_guard<std::mutex> lock(watch_.mutex_);
        const auto when = std::chrono::steady_clock::now() + limit;
        entry_ = watch_.deadlines_.insert(watch_.deadlines_.end(), {when, socket, false});
        // The watching thread starts with the first round trip, not when
        // the server loads the library.
        if (!watch_.thread_.joinable()) watch_.thread_ = std::thread(&DeadlineWatch::run, &watch_);
        earlier = when < watch_.wakesAt_;
    }
    // Woken for every round trip, the thread would take the CPU from the
    // query twice each time.
    if (earlier) watch_.wake_.notify_all();
}

DeadlineWatch::Armed::~Armed() {
    if (armed_) (void)disarm();
}

bool DeadlineWatch::Armed::disarm() {
    if (armed_) {
        // Under the lock: the socket is shut down only while it is armed,
        // that is while its connection is certainly still open.
        std::lock_guard<std::mutex> lock(watch_.mutex_);
        expired_ = entry_->expired;
        watch_.deadlines_.erase(entry_);
        armed_ = false;
    }
    return expired_;
}

void DeadlineWatch::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        const auto now = std::chrono::steady_clock::now();
        auto next = std::chrono::steady_clock::time_point::max();
        for (Deadline& deadline : deadlines_) {
            if (deadline.expired) continue;
            if (deadline.when <= now) {
                ::shutdown(deadline.socket, SHUT_RDWR);
                deadline.expired = true;
            } else {
                next = std::min(next, deadline.when);
            }
        }
        wakesAt_ = next;
        if (next == std::chrono::steady_clock::time_point::max()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, next);
        }
    }
}

}  // namespace kestrix::plugin

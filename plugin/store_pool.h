#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "plugin/account_store.h"
#include "plugin/deadline_watch.h"

namespace kestrix::plugin {

// A few account stores, each with its own connection, lent to one event at
// a time: events on different threads of the server never wait behind one
// another's database round trips, and the server's thread count does not
// decide how many connections the database sees. A SQLite file has no round
// trips, and its writers take turns anyway: there one store serves all,
// since several connections to one file only add lock waits and failures.
class StorePool {
  public:
    static constexpr std::size_t kMaxStores = 8;
    // The connections a pool holds when no count is configured: a few per
    // core, at least kMaxStores.
    static std::size_t defaultCapacity();

    explicit StorePool(Clock clock) : clock_(std::move(clock)) {}

    // The connection string every store opens and the most connections
    // open at once (0: the default); set once, before any lease.
    void start(std::string connectionString, std::size_t capacity = 0);

    class Lease {
      public:
        Lease(StorePool& pool, AccountStore& store) : pool_(pool), store_(store) {}
        ~Lease() {
            if (held_) pool_.release(store_);
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        AccountStore& store() { return store_; }
        [[nodiscard]] bool held() const { return held_; }
        // Runs work that needs no database (a password hash) with the store
        // lent to other events meanwhile, then takes this same store back
        // before anyone waiting in line. False when it is not back by the
        // deadline: the lease then holds nothing.
        [[nodiscard]] bool setAside(const std::function<void()>& work,
                                    std::chrono::steady_clock::time_point deadline);

      private:
        StorePool& pool_;
        AccountStore& store_;
        bool held_ = true;
    };

    // The store used last that is free (so a quiet server keeps one
    // connection busy rather than many), a new one while there are fewer
    // than its capacity, or else the first one given back; none when no
    // store is free by the deadline.
    [[nodiscard]] std::optional<Lease> acquire(std::chrono::steady_clock::time_point deadline);

  private:
    void release(AccountStore& store);
    bool takeBack(AccountStore& store, std::chrono::steady_clock::time_point deadline);
    // A free store that no lease is taking back.
    AccountStore* freeStore();

    Clock clock_;
    // Outlives the stores, whose round trips it watches.
    DeadlineWatch watch_;
    std::string connectionString_;
    std::size_t capacity_ = kMaxStores;
    std::mutex mutex_;
    std::condition_variable released_;
    std::vector<std::unique_ptr<AccountStore>> stores_;
    std::vector<AccountStore*> idle_;
    // Lent out by a lease that wants it back: not given to anyone else.
    std::vector<AccountStore*> reclaimed_;
    // The events waiting for a store, in their order of arrival.
    std::deque<unsigned long long> waiting_;
    unsigned long long nextTicket_ = 0;
};

}  // namespace kestrix::plugin

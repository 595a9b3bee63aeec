#include "plugin/store_pool.h"

#include <algorithm>
#include <thread>

namespace kestrix::plugin {

std::size_t StorePool::defaultCapacity() {
    return std::max<std::size_t>(kMaxStores, 3 * std::max(1u, std::thread::hardware_concurrency()));
}

void StorePool::start(std::string connectionString, std::size_t capacity) {
    const ParsedConnection parsed = parseConnectionString(connectionString);
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t configured = capacity > 0 ? capacity : defaultCapacity();
    capacity_ = parsed.target && parsed.target->engine == Engine::SQLite ? 1 : configured;
    connectionString_ = std::move(connectionString);
}

std::optional<StorePool::Lease> StorePool::acquire(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto available = [this] { return freeStore() != nullptr || stores_.size() < capacity_; };
    if (!waiting_.empty() || !available()) {
        // In turn: with every event's wait limited, one that kept losing a
        // store given back to later ones would be refused for nothing.
        const unsigned long long ticket = nextTicket_++;
        waiting_.push_back(ticket);
        const bool served = released_.wait_until(
            lock, deadline, [&] { return waiting_.front() == ticket && available(); });
        waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
        // The next in line may go now, or no longer waits behind this one.
        released_.notify_all();
        if (!served) return std::nullopt;
    }
    if (AccountStore* store = freeStore()) {
        idle_.erase(std::find(idle_.begin(), idle_.end(), store));
        return std::optional<Lease>(std::in_place, *this, *store);
    }
    stores_.push_back(std::make_unique<AccountStore>(clock_, watch_));
    AccountStore& store = *stores_.back();
    const std::string connectionString = connectionString_;
    lock.unlock();
    // Connecting may take seconds; other events go on meanwhile.
    store.start(connectionString);
    return std::optional<Lease>(std::in_place, *this, store);
}

AccountStore* StorePool::freeStore() {
    for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
        if (std::find(reclaimed_.begin(), reclaimed_.end(), *it) == reclaimed_.end()) return *it;
    }
    return nullptr;
}

bool StorePool::Lease::setAside(const std::function<void()>& work,
                                std::chrono::steady_clock::time_point deadline) {
    if (!held_) return false;
    pool_.release(store_);
    held_ = false;
    work();
    held_ = pool_.takeBack(store_, deadline);
    return held_;
}

bool StorePool::takeBack(AccountStore& store, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    reclaimed_.push_back(&store);
    const auto isIdle = [&] {
        return std::find(idle_.begin(), idle_.end(), &store) != idle_.end();
    };
    const bool back = released_.wait_until(lock, deadline, isIdle);
    reclaimed_.erase(std::find(reclaimed_.begin(), reclaimed_.end(), &store));
    if (back) {
        idle_.erase(std::find(idle_.begin(), idle_.end(), &store));
    } else {
        // Free again for those in line.
        released_.notify_all();
    }
    return back;
}

void StorePool::release(AccountStore& store) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        idle_.push_back(&store);
    }
    released_.notify_all();
}

}  // namespace kestrix::plugin

#include "plugin/store_pool.h"

namespace kestrix::plugin {

void StorePool::start(std::string connectionString) {
    const ParsedConnection parsed = parseConnectionString(connectionString);
    std::lock_guard<std::mutex> lock(mutex_);
    capacity_ = parsed.target && parsed.target->engine == Engine::SQLite ? 1 : kMaxStores;
    connectionString_ = std::move(connectionString);
}

StorePool::Lease StorePool::acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    released_.wait(lock, [this] { return !idle_.empty() || stores_.size() < capacity_; });
    if (!idle_.empty()) {
        AccountStore* store = idle_.back();
        idle_.pop_back();
        return Lease(*this, *store);
    }
    stores_.push_back(std::make_unique<AccountStore>(clock_, watch_));
    AccountStore& store = *stores_.back();
    const std::string connectionString = connectionString_;
    lock.unlock();
    // Connecting may take seconds; other events go on meanwhile.
    store.start(connectionString);
    return Lease(*this, store);
}

void StorePool::release(AccountStore& store) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        idle_.push_back(&store);
    }
    released_.notify_one();
}

}  // namespace kestrix::plugin

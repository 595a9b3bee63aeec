#include "plugin/event_dispatcher.h"

#include "plugin/event_answers.h"
#include "plugin/event_record.h"

namespace kestrix::plugin {

EventDispatcher::EventDispatcher(ConnectionStringSource source, Clock clock,
                                 ConnectionCountSource connections)
    : source_(std::move(source)),
      connections_(std::move(connections)),
      clock_(clock),
      pool_(std::move(clock)) {}

int EventDispatcher::handle(ClientEvent* event, bool* databaseFailed) {
    if (databaseFailed) *databaseFailed = false;
    if (event == nullptr) return 0;
    // Once per library, whatever the code of the first event.
    std::call_once(started_, [this] {
        std::string connectionString;
        try {
            connectionString = source_();
        } catch (const std::exception&) {
            // Unreadable is the same as not stored.
        }
        std::size_t connections = 0;
        try {
            if (connections_) connections = connections_();
        } catch (const std::exception&) {
            // An unreadable count is the default.
        }
        pool_.start(std::move(connectionString), connections);
    });
    if (!isAnsweredCode(event->code)) return 0;
    // The whole wait of the event, its turn for a connection included.
    const auto deadline = std::chrono::steady_clock::now() + AccountStore::kRoundTripLimit;
    std::optional<StorePool::Lease> lease = pool_.acquire(deadline);
    EventRecord record(*event);
    bool failed = false;
    try {
        if (lease) {
            AccountStore& store = lease->store();
            store.setDeadline(deadline);
            (void)store.takeDatabaseFailure();
            // While the store serves other events, their reads take and set
            // its failure mark and deadline: this event's are kept apart.
            // One captured reference keeps the function's own storage: no
            // allocation on every event.
            struct Lent {
                AccountStore& store;
                StorePool::Lease& lease;
                std::chrono::steady_clock::time_point deadline;
                bool& failed;
            } lent{store, *lease, deadline, failed};
            auto offStore = [&lent](const std::function<void()>& work) {
                lent.failed = lent.store.takeDatabaseFailure() || lent.failed;
                if (!lent.lease.setAside(work, lent.deadline)) {
                    lent.failed = true;
                    return false;
                }
                lent.store.setDeadline(lent.deadline);
                return true;
            };
            EventAnswers(store, offStore).answer(record);
            if (lease->held()) failed = store.takeDatabaseFailure() || failed;
        } else {
            // No connection free in time: the answer of a database that
            // cannot be read, from a store that never opens one.
            AccountStore unavailable(clock_, watch_);
            EventAnswers(unavailable).answer(record);
            failed = true;
        }
    } catch (const std::exception&) {
        // Nothing escapes into the server; the answer stands as far as it got.
        failed = true;
    }
    if (databaseFailed) *databaseFailed = failed;
    return 1;
}

}  // namespace kestrix::plugin

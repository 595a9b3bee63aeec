#include "plugin/event_dispatcher.h"

#include "plugin/event_answers.h"
#include "plugin/event_record.h"

namespace kestrix::plugin {

EventDispatcher::EventDispatcher(ConnectionStringSource source, Clock clock)
    : source_(std::move(source)), pool_(std::move(clock)) {}

int EventDispatcher::handle(ClientEvent* event) {
    if (event == nullptr) return 0;
    // Once per library, whatever the code of the first event.
    std::call_once(started_, [this] {
        std::string connectionString;
        try {
            connectionString = source_();
        } catch (const std::exception&) {
            // Unreadable is the same as not stored.
        }
        pool_.start(std::move(connectionString));
    });
    if (!isAnsweredCode(event->code)) return 0;
    StorePool::Lease lease = pool_.acquire();
    EventRecord record(*event);
    try {
        EventAnswers(lease.store()).answer(record);
    } catch (const std::exception&) {
        // Nothing escapes into the server; the answer stands as far as it got.
    }
    return 1;
}

}  // namespace kestrix::plugin

#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "plugin/client_event.h"
#include "plugin/store_pool.h"

namespace kestrix::plugin {

// Answers the server's events, on whatever threads the server calls from.
// The connection string is read once, at the first event; the database
// connections live as long as the dispatcher.
class EventDispatcher {
  public:
    using ConnectionStringSource = std::function<std::string()>;
    // The most database connections open at once; 0 for the default.
    using ConnectionCountSource = std::function<std::size_t()>;

    EventDispatcher(ConnectionStringSource source, Clock clock,
                    ConnectionCountSource connections = {});

    // 1 when the code is one the plug-in answers (the record then holds the
    // answer), 0 for every other code (the record is left untouched).
    // databaseFailed, when given, tells whether the answer is the no-value
    // answer of a database that could not be reached, not the account's.
    [[nodiscard]] int handle(ClientEvent* event, bool* databaseFailed = nullptr);

  private:
    ConnectionStringSource source_;
    ConnectionCountSource connections_;
    std::once_flag started_;
    Clock clock_;
    // Watches nothing: the stores given to events that found no connection
    // free never open one.
    DeadlineWatch watch_;
    StorePool pool_;
};

}  // namespace kestrix::plugin

// The library's one exported function. Everything else stays inside.
#include <charconv>
#include <chrono>
#include <string>

#include "core/settings_store.h"
#include "plugin/client_event.h"
#include "plugin/event_dispatcher.h"

namespace {

// The key Kestrix stores its connection string under; keys are found
// without regard to case.
constexpr const char* kConnectionStringKey = "Software\\Orvane\\Serv-U\\ConnectionString";

// How many database connections the plug-in keeps open at most.
constexpr const char* kQuellinKey = "Software\\Kestrix\\Quellin";
constexpr const char* kConnectionsValue = "DatabaseConnections";

std::size_t configuredConnections() {
    const std::string text =
        kestrix::SettingsStore::fromEnvironment().readValue(kQuellinKey, kConnectionsValue);
    std::size_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    // Anything but a whole number from 1 to 1000 is the default.
    if (error != std::errc() || end != text.data() + text.size() || count > 1000) return 0;
    return count;
}

kestrix::plugin::EventDispatcher& dispatcher() {
    // One per loaded library; closed when the library is unloaded.
    static kestrix::plugin::EventDispatcher instance(
        [] {
            return kestrix::SettingsStore::fromEnvironment().readValue(kConnectionStringKey, "");
        },
        [] { return std::chrono::steady_clock::now(); }, configuredConnections);
    return instance;
}

int answer(ClientEvent* event, bool* databaseFailed) {
    if (event == nullptr) return 0;
    try {
        return dispatcher().handle(event, databaseFailed);
    } catch (...) {
        if (databaseFailed) *databaseFailed = true;
        return kestrix::plugin::isAnsweredCode(event->code) ? 1 : 0;
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int HandleClientEvent(ClientEvent* event) {
    return answer(event, nullptr);
}

// For the answering service: HandleClientEvent, and in *databaseFailed
// whether the answer is that of a database that could not be reached.
extern "C" __attribute__((visibility("default"))) int QuellinAnswerEvent(ClientEvent* event,
                                                                         int* databaseFailed) {
    bool failed = false;
    const int result = answer(event, &failed);
    if (databaseFailed != nullptr) *databaseFailed = failed ? 1 : 0;
    return result;
}

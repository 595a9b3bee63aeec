// The library's one exported function. Everything else stays inside.
#include <chrono>
#include <string>

#include "core/settings_store.h"
#include "plugin/client_event.h"
#include "plugin/event_dispatcher.h"

namespace {

// The key Kestrix stores its connection string under; keys are found
// without regard to case.
constexpr const char* kConnectionStringKey = "Software\\Orvane\\Serv-U\\ConnectionString";

kestrix::plugin::EventDispatcher& dispatcher() {
    // One per loaded library; closed when the library is unloaded.
    static kestrix::plugin::EventDispatcher instance(
        [] {
            return kestrix::SettingsStore::fromEnvironment().readValue(kConnectionStringKey, "");
        },
        [] { return std::chrono::steady_clock::now(); });
    return instance;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int HandleClientEvent(ClientEvent* event) {
    if (event == nullptr) return 0;
    try {
        return dispatcher().handle(event);
    } catch (...) {
        return kestrix::plugin::isAnsweredCode(event->code) ? 1 : 0;
    }
}

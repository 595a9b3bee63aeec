#include "core/settings.h"

#include <string>

#include "core/activity_log.h"
#include "core/settings_store.h"

namespace kestrix {

std::string readConnectionString() {
    return SettingsStore::fromEnvironment().readValue(kConnectionStringKey, {});
}

bool writeConnectionString(std::string_view text) {
    const SettingsStore store = SettingsStore::fromEnvironment();
    writeLog("registry");
    writeLog("open the registry");
    const int code = store.openKey(kConnectionStringKey);
    if (code == SettingsStore::kSuccess) {
        writeLog("No error");
    } else if (code == SettingsStore::kNotFound) {
        writeLog("file not found, create key");
        store.createKey(kConnectionStringKey);
    }
    return store.writeValue(kConnectionStringKey, {}, text, 0640);
}

std::string getRegSettings(std::string_view name) {
    return SettingsStore::fromEnvironment().readValue(kSettingsKey, name);
}

bool writeSetting(std::string_view name, std::string_view value) {
    const SettingsStore store = SettingsStore::fromEnvironment();
    const int code = store.openKey(kSettingsKey);
    if (code == SettingsStore::kSuccess) {
        writeLog("No error");
    } else if (code == SettingsStore::kNotFound) {
        writeLog("file not found, create key");
        writeLog("create key return code: " + std::to_string(store.createKey(kSettingsKey)));
    } else {
        writeLog("error: " + std::to_string(code));
    }
    return store.writeValue(kSettingsKey, name, value, 0644);
}

int openConnectionStringKey() {
    return SettingsStore::fromEnvironment().openKey(kConnectionStringKey);
}

}  // namespace kestrix

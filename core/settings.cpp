#include "core/settings.h"

#include <string>

#include "core/activity_log.h"
#include "core/private_files.h"
#include "core/settings_store.h"

namespace kestrix {

std::string readConnectionString() {
    return SettingsStore::fromEnvironment().readValue(kConnectionStringKey, {});
}

WriteResult writeConnectionString(std::string_view text) {
    const SettingsStore store = SettingsStore::fromEnvironment();
    writeLog("registry");
    writeLog("open the registry");
    const int code = store.openKey(kConnectionStringKey);
    if (code == SettingsStore::kSuccess) {
        writeLog("No error");
    } else if (code == SettingsStore::kNotFound) {
        writeLog("file not found, create key");
        // Without the key the value cannot be written; its reason is the telling one.
        if (const int created = store.createKey(kConnectionStringKey); created != 0)
            return WriteResult::failed(created);
    }
    // Its owner alone may read it, and the FTP server through the group
    // kestrix where the package made one.
    const PrivateAccess access = privateAccess();
    return store.writeValue(kConnectionStringKey, {}, text, access.mode,
                            access.owner ? &*access.owner : nullptr);
}

std::string getRegSettings(std::string_view name) {
    return SettingsStore::fromEnvironment().readValue(kSettingsKey, name);
}

WriteResult writeSetting(std::string_view name, std::string_view value) {
    const SettingsStore store = SettingsStore::fromEnvironment();
    const int code = store.openKey(kSettingsKey);
    if (code == SettingsStore::kSuccess) {
        writeLog("No error");
    } else if (code == SettingsStore::kNotFound) {
        writeLog("file not found, create key");
        const int created = store.createKey(kSettingsKey);
        writeLog("create key return code: " + std::to_string(created));
        if (created != 0) return WriteResult::failed(created);
    } else {
        writeLog("error: " + std::to_string(code));
    }
    return store.writeValue(kSettingsKey, name, value, 0644);
}

int openConnectionStringKey() {
    return SettingsStore::fromEnvironment().openKey(kConnectionStringKey);
}

}  // namespace kestrix

#include "setup/load_settings.h"

#include <chrono>
#include <string>

#include "core/activity_log.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "setup/configure_window.h"
#include "shell/shell.h"

namespace kestrix {

void loadSettings(const std::function<ConfigureWindow&()>& configureWindow) {
    writeLog("registry");
    writeLog("On Error Resume Next");
    writeLog("open the registry");
    // A commit killed between writing a value and renaming it into place
    // left its temporary file behind.
    if (const std::size_t removed =
            SettingsStore::fromEnvironment().removeLeftoverWrites(std::chrono::minutes(1)))
        writeLog(std::to_string(removed) + " unfinished settings writes removed");
    if (openConnectionStringKey() == SettingsStore::kNotFound) {
        Shell::instance().ask(
            titledMessage(kWelcomeText, MessageIcon::Information, MessageButtons::OK));
        configureWindow().showModally();
        return;
    }
    writeLog("load settings");
    ConfigureWindow& dialog = configureWindow();
    dialog.setFields({getRegSettings(kServuPathValue), getRegSettings(kFtpDirectoryValue),
                      readConnectionString(), getRegSettings(kUpdateServerValue)});
    writeLog(" do not Show vbModal");
}

}  // namespace kestrix

#include "load_settings.h"

#include "activity_log.h"
#include "configure_window.h"
#include "settings.h"
#include "settings_store.h"
#include "shell.h"

namespace kestrix {

void loadSettings(const std::function<ConfigureWindow&()>& configureWindow) {
    writeLog("registry");
    writeLog("On Error Resume Next");
    writeLog("open the registry");
    if (openConnectionStringKey() == SettingsStore::kNotFound) {
        Shell::instance().ask(
            titledMessage(kWelcomeText, MessageIcon::Information, MessageButtons::OK));
        configureWindow().showModally();
        return;
    }
    writeLog("load settings");
    ConfigureWindow& dialog = configureWindow();
    dialog.setFields({getRegSettings(kServuPathValue), getRegSettings(kFtpDirectoryValue),
                      readConnectionString()});
    writeLog(" do not Show vbModal");
}

}  // namespace kestrix

#pragma once

#include <functional>

namespace kestrix {

class ConfigureWindow;

inline constexpr const char* kWelcomeText =
    "Welcome to Kestrix.\r\n\r\nIt seems like this is the first time you \r\nare running this "
    "application.\r\n\r\nClick OK to configure required settings.";

// Start-up's settings step. On a first run (no connection-string key) the
// welcome message, then the configuration dialog with its designer texts,
// modally; otherwise the stored values go into the (hidden) dialog. The
// dialog is fetched only when needed, which loads it.
void loadSettings(const std::function<ConfigureWindow&()>& configureWindow);

}  // namespace kestrix

#pragma once

#include <string_view>

namespace kestrix::service {

// Every line goes to stderr (the journal under systemd) and to syslog.
void openServiceLog();
void logInfo(std::string_view text);
void logWarning(std::string_view text);
void logError(std::string_view text);

}  // namespace kestrix::service

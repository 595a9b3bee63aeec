#include "service/service_log.h"

#include <syslog.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace kestrix::service {

namespace {

std::mutex logMutex;

void logLine(int priority, std::string_view text) {
    const std::string line(text);
    std::lock_guard<std::mutex> lock(logMutex);
    std::fprintf(stderr, "quellind: %s\n", line.c_str());
    std::fflush(stderr);
    ::syslog(priority, "%s", line.c_str());
}

}  // namespace

void openServiceLog() {
    ::openlog("quellind", LOG_PID, LOG_DAEMON);
}

void logInfo(std::string_view text) {
    logLine(LOG_INFO, text);
}

void logWarning(std::string_view text) {
    logLine(LOG_WARNING, text);
}

void logError(std::string_view text) {
    logLine(LOG_ERR, text);
}

}  // namespace kestrix::service

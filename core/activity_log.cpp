#include "core/activity_log.h"

#include <algorithm>

#include "core/short_date.h"

namespace kestrix {

namespace {
constexpr const char* kDesignerText = "Log File\n";
}

ActivityLog::ActivityLog() : text_(kDesignerText) {}

void ActivityLog::write(std::string_view message) {
    write(message, std::chrono::system_clock::now());
}

void ActivityLog::write(std::string_view message, std::chrono::system_clock::time_point when) {
    const std::string line = formatLogLine(message, when);
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(mutex_);
        text_ += line;
        for (const auto& entry : listeners_)
            listeners.push_back(entry.second);
    }
    // Outside the lock, so a listener may read text() or write again.
    for (const auto& listener : listeners)
        listener(line);
}

std::string ActivityLog::text() const {
    std::lock_guard lock(mutex_);
    return text_;
}

int ActivityLog::attach(Listener listener) {
    std::lock_guard lock(mutex_);
    listeners_.emplace_back(nextId_, std::move(listener));
    return nextId_++;
}

void ActivityLog::detach(int id) {
    std::lock_guard lock(mutex_);
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

std::string formatLogLine(std::string_view message, std::chrono::system_clock::time_point when) {
    std::string line = formatShortDate(localDate(when));
    line += ' ';
    line += formatShortTime(when);
    line += ":  ";
    line += message;
    line += '\n';
    return line;
}

ActivityLog& programLog() {
    static ActivityLog log;
    return log;
}

ActivityLog& wizardLog() {
    static ActivityLog log;
    return log;
}

void writeLog(std::string_view message) {
    programLog().write(message);
}

void writeWizardLog(std::string_view message) {
    wizardLog().write(message);
}

}  // namespace kestrix

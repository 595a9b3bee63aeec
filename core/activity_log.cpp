#include "core/activity_log.h"

#include <langinfo.h>

#include <algorithm>
#include <optional>

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
    // The stamp changes once a second (or with the locale's date pattern);
    // working it out costs more than the rest of a line, and a Save writes
    // hundreds of lines.
    struct Stamp {
        long long second = 0;
        std::string pattern;
        std::string text;
    };
    thread_local std::optional<Stamp> stamp;
    const long long second =
        std::chrono::floor<std::chrono::seconds>(when).time_since_epoch().count();
    const char* pattern = nl_langinfo(D_FMT);
    if (!stamp || stamp->second != second || stamp->pattern != pattern) {
        stamp = Stamp{second, pattern, formatShortDate(localDate(when))};
        stamp->text += ' ';
        // To the second: a run of steps can be told apart and timed.
        stamp->text += formatShortTime(when, true);
        stamp->text += ":  ";
    }
    std::string line;
    line.reserve(stamp->text.size() + message.size() + 1);
    line += stamp->text;
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

#include "shell/log_lines.h"

#include <algorithm>
#include <cctype>

namespace kestrix {

namespace {

constexpr std::string_view kSeparator = ":  ";

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           }) != text.end();
}

}  // namespace

void LogLines::setText(std::string_view text) {
    entries_.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        append(text.substr(start, end - start));
        start = end + 1;
    }
}

void LogLines::append(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    Entry entry;
    const std::size_t at = line.find(kSeparator);
    if (at == std::string_view::npos) {
        entry.message = line;
    } else {
        entry.stamp = line.substr(0, at);
        entry.message = line.substr(at + kSeparator.size());
    }
    if (!entries_.empty() && !entry.stamp.empty() && entries_.back().message == entry.message) {
        Entry& last = entries_.back();
        ++last.times;
        // The stamp is "date time": the time is its last word.
        const std::size_t blank = entry.stamp.rfind(' ');
        last.lastTime = blank == std::string::npos ? entry.stamp : entry.stamp.substr(blank + 1);
        return;
    }
    entries_.push_back(std::move(entry));
}

std::string LogLines::text(const Entry& entry) {
    std::string line =
        entry.stamp.empty() ? entry.message : entry.stamp + std::string(kSeparator) + entry.message;
    if (entry.times > 1)
        line += "  (\u00d7" + std::to_string(entry.times) + ", the last at " + entry.lastTime + ")";
    return line;
}

std::string LogLines::shown(std::string_view filter) const {
    std::string out;
    for (const Entry& entry : entries_) {
        const std::string line = text(entry);
        if (!filter.empty() && !containsIgnoringCase(line, filter)) continue;
        out += line;
        out += '\n';
    }
    return out;
}

}  // namespace kestrix

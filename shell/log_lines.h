#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// The activity log as the log window shows it: a run of lines with the same
// message becomes one line that says how often and until when, and a filter
// keeps the lines that contain a text, without regard to case.
class LogLines {
  public:
    // The lines of the whole log text, in order.
    void setText(std::string_view text);
    // One more line, as the log appends it.
    void append(std::string_view line);

    // The lines shown for the filter (empty: every line), each ended by '\n'.
    std::string shown(std::string_view filter) const;
    std::size_t entryCount() const { return entries_.size(); }

  private:
    struct Entry {
        std::string stamp;    // "date time", empty for the heading
        std::string message;  // what follows ":  "
        int times = 1;
        std::string lastTime;  // the time of the last repeat
    };
    static std::string text(const Entry& entry);

    std::vector<Entry> entries_;
};

}  // namespace kestrix

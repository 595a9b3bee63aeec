#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// The activity log: a growing text that lives only for the run of the
// program. Windows attach to it to show it; it is never written to a file.
class ActivityLog {
  public:
    using Listener = std::function<void(const std::string& line)>;

    ActivityLog();

    // Appends one entry stamped with the current local date and time.
    void write(std::string_view message);
    // Appends one entry stamped with the given moment (for tests and replays).
    void write(std::string_view message, std::chrono::system_clock::time_point when);

    // The whole text so far, starting with the designer text "Log File".
    std::string text() const;

    // Calls the listener with every line appended from now on; returns an id
    // for detach(). Listeners run on the writer's thread.
    int attach(Listener listener);
    void detach(int id);

  private:
    mutable std::mutex mutex_;
    std::string text_;
    std::vector<std::pair<int, Listener>> listeners_;
    int nextId_ = 1;
};

// One entry: short date, a blank, hours:minutes:seconds, a colon and two blanks,
// the message, a line break.
std::string formatLogLine(std::string_view message, std::chrono::system_clock::time_point when);

// The program's log (shown by the status window) and the database wizard's.
ActivityLog& programLog();
ActivityLog& wizardLog();

void writeLog(std::string_view message);
void writeWizardLog(std::string_view message);

}  // namespace kestrix

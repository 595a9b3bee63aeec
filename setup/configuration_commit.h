#pragma once

#include <string>

#include "shell/message_boxes.h"

namespace kestrix {

// The three values of the configuration dialog.
struct ConfigureFields {
    std::string servuPath;
    std::string ftpDirectory;
    std::string connectionString;
};

enum class CommitResult {
    Stopped,         // a check refused the values, or a question was declined
    DatabaseFailed,  // everything stored, but the database did not open
    Committed,       // stored, and the database opened with the new string
};

// The commit of the configuration dialog: checks the two paths, gives them
// their trailing '/', stores them and the connection string, and proves the
// database. Questions and refusals go through the message boxes; the
// fields get the stored forms of the paths.
class ConfigurationCommit {
  public:
    explicit ConfigurationCommit(MessageBoxes& boxes) : boxes_(boxes) {}

    CommitResult run(ConfigureFields& fields);

  private:
    bool pathsWithinLimits(const ConfigureFields& fields);
    bool programPathUsable(const std::string& path);
    bool ftpDirectoryUsable(const std::string& path);
    bool confirmNetworkPath(const std::string& firstLine);
    void warn(const std::string& text);

    MessageBoxes& boxes_;
};

// Characters of a UTF-8 text.
std::size_t characterCount(const std::string& text);

// The path with a trailing '/' (a path that has one keeps it).
std::string withTrailingSlash(std::string path);

}  // namespace kestrix

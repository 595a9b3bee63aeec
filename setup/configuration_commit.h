#pragma once

#include <string>
#include <string_view>

#include "core/file_write.h"
#include "shell/message_boxes.h"

namespace kestrix {

// The values of the configuration dialog.
struct ConfigureFields {
    std::string servuPath;
    std::string ftpDirectory;
    std::string connectionString;
    std::string updateServer;  // empty: Check for Updates has no server to ask
};

enum class CommitResult {
    Stopped,           // a check refused the values, or a question was declined
    NotStored,         // a value or the new database file could not be written
    OtherProgramPath,  // no server configuration file: browse, then commit again
    DatabaseFailed,    // everything stored, but the database did not open
    Committed,         // stored, and the database opened with the new string
};

// The commit of the configuration dialog: checks the two paths, gives them
// their trailing '/', stores them, installs the plug-in into the FTP server
// (its file and its line in the server's configuration file), stores the
// connection string, and proves the database. A missing SQLite file is made from the template,
// after a question unless it is the default database of a first run. Questions and refusals go
// through the message boxes; the fields get the stored forms of the paths. What can be checked
// (the paths, the configuration file, room for the plug-in) is checked before anything is
// stored; a later step that fails puts back the settings, the plug-in file, the configuration
// file and the database file as they were. Only a database that does not open leaves the
// values stored, for the dialog to correct.
class ConfigurationCommit {
  public:
    // defaultConnectionString: the one the dialog offers on a first run.
    ConfigurationCommit(MessageBoxes& boxes, std::string defaultConnectionString)
        : boxes_(boxes), defaultConnectionString_(std::move(defaultConnectionString)) {}

    [[nodiscard]] CommitResult run(ConfigureFields& fields);

  private:
    [[nodiscard]] bool pathsWithinLimits(const ConfigureFields& fields);
    [[nodiscard]] bool updateServerUsable(const std::string& address);
    [[nodiscard]] bool programPathUsable(const std::string& path);
    [[nodiscard]] bool ftpDirectoryUsable(const std::string& path);
    [[nodiscard]] bool confirmNetworkPath(const std::string& firstLine);
    [[nodiscard]] bool newDatabaseAgreed(const std::string& file, bool defaultOfFirstRun);
    [[nodiscard]] bool settingStored(const std::string& what, std::string_view key,
                                     std::string_view name, const WriteResult& result);
    [[nodiscard]] bool written(const std::string& failure, const WriteResult& result);
    // The server's configuration file in the program path, asking which one
    // when both are there; empty when there is none.
    [[nodiscard]] std::string chosenServerIni(const std::string& programPath);
    void warn(const std::string& text);

    MessageBoxes& boxes_;
    std::string defaultConnectionString_;
};

// True for the base address of an update server: http:// or https://, a
// host name or address, an optional port and nothing after it but a '/'.
[[nodiscard]] bool isUpdateServerAddress(std::string_view address);

// The path with a trailing '/' (a path that has one keeps it).
[[nodiscard]] std::string withTrailingSlash(std::string path);

}  // namespace kestrix

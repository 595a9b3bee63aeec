#include "setup/configuration_commit.h"

#include "core/activity_log.h"
#include "core/database.h"
#include "core/path_tests.h"
#include "core/settings.h"
#include "setup/database_template.h"

namespace kestrix {

namespace {

constexpr std::size_t kMaxPathCharacters = 32000;

}  // namespace

std::size_t characterCount(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

std::string withTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

void ConfigurationCommit::warn(const std::string& text) {
    boxes_.show(titledMessage(text, MessageIcon::Exclamation, MessageButtons::OK));
}

bool ConfigurationCommit::pathsWithinLimits(const ConfigureFields& fields) {
    if (characterCount(fields.servuPath) > kMaxPathCharacters) {
        warn(
            "The number of characters in the Serv-U program path field \r\nexceeds the maximum "
            "number of characters allowed.");
        return false;
    }
    if (characterCount(fields.ftpDirectory) > kMaxPathCharacters) {
        warn(
            "The number of characters in the FTP directory path field \r\nexceeds the maximum "
            "number of characters allowed.");
        return false;
    }
    return true;
}

bool ConfigurationCommit::confirmNetworkPath(const std::string& firstLine) {
    const Answer answer = boxes_.show(titledMessage(
        firstLine + "\r\nThese paths may need directory user rights for proper usage.\r\n\r\n"
                    "Are you sure you want to use network or UNC paths?",
        MessageIcon::Question, MessageButtons::YesNoCancel, 2));
    return answer == Answer::Yes;
}

bool ConfigurationCommit::programPathUsable(const std::string& path) {
    const PathTests tests = getPathTests(path);
    if (!tests.isDirectory) {
        warn("The Serv-U path specified is not valid.\r\nPlease check your path and try again.");
        return false;
    }
    // Emptiness is the whole test: no particular file is looked for.
    if (tests.isEmptyDirectory) {
        warn(
            "The Serv-U path specified does not have any Serv-U program files in it.\r\n"
            "Please check your path and try again.");
        return false;
    }
    if (tests.isUNC || tests.isNetworkPath)
        return confirmNetworkPath("The Serv-U path specified is a network or UNC path.");
    return true;
}

bool ConfigurationCommit::ftpDirectoryUsable(const std::string& path) {
    const PathTests tests = getPathTests(path);
    if (!tests.isDirectory) {
        warn(
            "The FTP directory path specified is not valid.\r\nPlease check your path and try "
            "again.");
        return false;
    }
    if (tests.isUNC || tests.isNetworkPath)
        return confirmNetworkPath("The FTP directory path specified is a network or UNC path.");
    return true;
}

CommitResult ConfigurationCommit::run(ConfigureFields& fields) {
    if (!pathsWithinLimits(fields)) return CommitResult::Stopped;

    writeLog("check for invalid entries");
    if (!programPathUsable(fields.servuPath) || !ftpDirectoryUsable(fields.ftpDirectory))
        return CommitResult::Stopped;

    writeLog("check for trailing backslashes '\\'");
    fields.servuPath = withTrailingSlash(fields.servuPath);
    fields.ftpDirectory = withTrailingSlash(fields.ftpDirectory);

    writeLog("Save settings into registry");
    writeSetting(kServuPathValue, fields.servuPath);
    writeSetting(kFtpDirectoryValue, fields.ftpDirectory);

    // The plug-in file and the server's configuration file are installed
    // here, between the paths and the connection string.

    writeLog("save connection string");
    writeConnectionString(fields.connectionString);
    // The embedded default names a SQLite file that a fresh machine does
    // not have yet.
    createDatabaseFromTemplate(fields.connectionString);

    Database db;
    if (!openDatabase(db, 1)) {
        warn(
            "The database could not be opened please recheck your connectionstring or use the "
            "database wizard.");
        return CommitResult::DatabaseFailed;
    }
    closeDatabase(db);
    return CommitResult::Committed;
}

}  // namespace kestrix

#include "setup/configuration_commit.h"

#include "core/activity_log.h"
#include "core/database.h"
#include "core/path_tests.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "core/text_routines.h"
#include "setup/database_template.h"

#include <optional>

namespace kestrix {

namespace {

constexpr std::size_t kMaxPathCharacters = 32000;

}  // namespace

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

bool ConfigurationCommit::newDatabaseAgreed(const std::string& file, bool defaultOfFirstRun) {
    // Only the database the dialog itself offers is made without asking: any
    // other missing file may be a typing error.
    if (defaultOfFirstRun) return true;
    const Answer answer = boxes_.show(titledMessage(
        "The database file " + file + " does not exist. Create a new, empty database there?",
        MessageIcon::Question, MessageButtons::YesNo, 2));
    return answer == Answer::Yes;
}

bool ConfigurationCommit::written(const std::string& failure, const WriteResult& result) {
    if (result) return true;
    writeLog(failure + ": " + result.error());
    warn(failure + ":\r\n" + result.error());
    return false;
}

bool ConfigurationCommit::settingStored(const std::string& what, std::string_view key,
                                        std::string_view name, const WriteResult& result) {
    const std::string file = SettingsStore::fromEnvironment().valueFile(key, name).string();
    return written(what + " could not be stored in the settings store (" + file + ")", result);
}

CommitResult ConfigurationCommit::run(ConfigureFields& fields) {
    // Taken before anything is stored: the commit itself creates the key.
    const bool firstRun = openConnectionStringKey() == SettingsStore::kNotFound;
    if (!pathsWithinLimits(fields)) return CommitResult::Stopped;

    writeLog("check for invalid entries");
    if (!programPathUsable(fields.servuPath) || !ftpDirectoryUsable(fields.ftpDirectory))
        return CommitResult::Stopped;
    const std::optional<std::string> newDatabase = missingDatabaseFile(fields.connectionString);
    const bool offeredDefault = firstRun && fields.connectionString == defaultConnectionString_;
    if (newDatabase && !newDatabaseAgreed(*newDatabase, offeredDefault))
        return CommitResult::Stopped;

    writeLog("check for trailing backslashes '\\'");
    fields.servuPath = withTrailingSlash(fields.servuPath);
    fields.ftpDirectory = withTrailingSlash(fields.ftpDirectory);

    writeLog("Save settings into registry");
    if (!settingStored("The Serv-U program path", kSettingsKey, kServuPathValue,
                       writeSetting(kServuPathValue, fields.servuPath)) ||
        !settingStored("The FTP directory path", kSettingsKey, kFtpDirectoryValue,
                       writeSetting(kFtpDirectoryValue, fields.ftpDirectory)))
        return CommitResult::NotStored;

    // The plug-in file and the server's configuration file are installed
    // here, between the paths and the connection string.

    // Made before the connection string is stored, so that a file that
    // cannot be made leaves the stored string naming the old database.
    if (newDatabase && !written("The database file " + *newDatabase + " could not be created",
                                createDatabaseFromTemplate(*newDatabase)))
        return CommitResult::NotStored;

    writeLog("save connection string");
    if (!settingStored("The connection string", kConnectionStringKey, "",
                       writeConnectionString(fields.connectionString)))
        return CommitResult::NotStored;

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

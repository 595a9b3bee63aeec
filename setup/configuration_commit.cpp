#include "setup/configuration_commit.h"

#include <filesystem>
#include <optional>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/path_tests.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "core/text_routines.h"
#include "setup/database_template.h"
#include "setup/embedded_plugin.h"
#include "setup/server_ini.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxPathCharacters = 32000;

}  // namespace

bool isUpdateServerAddress(std::string_view address) {
    std::string_view rest;
    if (address.starts_with("http://"))
        rest = address.substr(7);
    else if (address.starts_with("https://"))
        rest = address.substr(8);
    else
        return false;
    if (rest.ends_with('/')) rest.remove_suffix(1);
    std::string_view host = rest;
    std::string_view port;
    if (rest.starts_with('[')) {
        // An IPv6 address in brackets.
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos || close == 1) return false;
        host = rest.substr(1, close - 1);
        if (host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos)
            return false;
        rest.remove_prefix(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) return false;
        if (!rest.empty()) port = rest.substr(1);
        if (!rest.empty() && port.empty()) return false;
    } else {
        if (const std::size_t colon = rest.find(':'); colon != std::string_view::npos) {
            host = rest.substr(0, colon);
            port = rest.substr(colon + 1);
            if (port.empty()) return false;
        }
        if (host.empty() || host.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                   "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") !=
                                std::string_view::npos)
            return false;
    }
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    return port.empty() || std::stoi(std::string(port)) <= 65535;
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

bool ConfigurationCommit::updateServerUsable(const std::string& address) {
    if (address.empty() || isUpdateServerAddress(address)) return true;
    warn("The update server \"" + address +
         "\" is not a web address.\r\nGive its address as http://host or https://host, "
         "with :port when it needs one, or leave the field empty.");
    return false;
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

std::string ConfigurationCommit::chosenServerIni() {
    writeLog("open ini file");
    const std::string programPath = trimmed(getRegSettings(kServuPathValue));
    if (programPath.empty()) return {};
    writeLog("get all ini files");
    const ServerIniFiles found = findServerIniFiles(programPath);
    if (found.daemonIni.empty() || found.servuIni.empty())
        return found.daemonIni.empty() ? found.servuIni : found.daemonIni;
    const Answer answer = boxes_.show(
        titledMessage("There were two Serv-U INI files found.\r\n\r\nWould you like to use "
                      "\"Serv-u.INI\"?\r\nPress \"No\" to use \"Servudaemon.ini\"",
                      MessageIcon::Question, MessageButtons::YesNo));
    return answer == Answer::Yes ? found.servuIni : found.daemonIni;
}

CommitResult ConfigurationCommit::installPlugin(const std::string& programPath) {
    writeLog("If the dll does not exist make it");
    if (!written("The plug-in could not be written into " + programPath,
                 installPluginFile(programPath, embeddedPluginBytes())))
        return CommitResult::NotStored;
    const std::string ini = chosenServerIni();
    std::error_code ec;
    if (ini.empty() || !fs::is_regular_file(ini, ec)) {
        const Answer answer = boxes_.show(titledMessage(
            "The Serv-u.ini file was not found in the path specified.\r\n\r\nWould you like "
            "to try a different program path?",
            MessageIcon::Exclamation, MessageButtons::YesNoCancel));
        return answer == Answer::Yes ? CommitResult::OtherProgramPath : CommitResult::Stopped;
    }
    if (!settingStored("The path of the FTP server's configuration file", kSettingsKey,
                       kIniPathValue, writeSetting(kIniPathValue, ini)) ||
        !written("The FTP server's configuration file " + ini + " could not be changed",
                 enterPlugin(ini)))
        return CommitResult::NotStored;
    return CommitResult::Committed;
}

CommitResult ConfigurationCommit::run(ConfigureFields& fields) {
    // Taken before anything is stored: the commit itself creates the key.
    const bool firstRun = openConnectionStringKey() == SettingsStore::kNotFound;
    if (!pathsWithinLimits(fields)) return CommitResult::Stopped;

    writeLog("check for invalid entries");
    fields.updateServer = trimmed(fields.updateServer);
    if (!programPathUsable(fields.servuPath) || !ftpDirectoryUsable(fields.ftpDirectory) ||
        !updateServerUsable(fields.updateServer))
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
                       writeSetting(kFtpDirectoryValue, fields.ftpDirectory)) ||
        !settingStored("The update server", kSettingsKey, kUpdateServerValue,
                       writeSetting(kUpdateServerValue, fields.updateServer)))
        return CommitResult::NotStored;

    if (const CommitResult installed = installPlugin(fields.servuPath);
        installed != CommitResult::Committed)
        return installed;

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

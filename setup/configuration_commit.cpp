#include "setup/configuration_commit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

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

std::optional<std::string> fileBytes(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return std::nullopt;
    return bytes;
}

// What the commit changes, as it was before, so that a commit that stops
// half-way can put it back: the program, the plug-in and the FTP server
// then go on agreeing about the database.
class CommitUndo {
  public:
    // A stored value's file: its bytes and mode, or that it was not there.
    void keepValue(const fs::path& file) {
        std::error_code ec;
        // Anything else in a value's place is not the commit's to touch.
        if (fs::exists(fs::symlink_status(file, ec)) && !fs::is_regular_file(file, ec)) return;
        Kept kept{file, fileBytes(file), 0644};
        struct stat info {};
        if (kept.bytes && ::stat(file.c_str(), &info) == 0) kept.mode = info.st_mode & 07777;
        values_.push_back(std::move(kept));
    }
    void keepDirectory(const fs::path& directory) {
        std::error_code ec;
        if (!fs::exists(directory, ec)) madeDirectories_.push_back(directory);
    }
    void madeFile(const fs::path& file) { madeFiles_.push_back(file); }
    void keepIni(const fs::path& file, std::string bytes) {
        ini_ = file;
        iniBytes_ = std::move(bytes);
    }

    void undo() {
        writeLog("the commit stopped: what it stored is put back");
        for (const Kept& kept : values_) {
            if (fileBytes(kept.file) == kept.bytes) continue;
            std::error_code ec;
            if (!kept.bytes) {
                fs::remove(kept.file, ec);
            } else if (WriteResult put = replaceFile(kept.file, *kept.bytes, kept.mode); !put) {
                writeLog("could not put back " + kept.file.string() + ": " + put.error());
            }
        }
        if (iniBytes_ && fileBytes(ini_) != iniBytes_) {
            if (WriteResult put = rewriteFile(ini_, *iniBytes_); !put)
                writeLog("could not put back " + ini_.string() + ": " + put.error());
        }
        for (const fs::path& file : madeFiles_) {
            std::error_code ec;
            fs::remove(file, ec);
        }
        // Only while empty: the connection-string key is the first-run mark.
        for (auto dir = madeDirectories_.rbegin(); dir != madeDirectories_.rend(); ++dir) {
            std::error_code ec;
            fs::remove(*dir, ec);
        }
    }

  private:
    struct Kept {
        fs::path file;
        std::optional<std::string> bytes;
        mode_t mode;
    };
    std::vector<Kept> values_;
    std::vector<fs::path> madeDirectories_;
    std::vector<fs::path> madeFiles_;
    fs::path ini_;
    std::optional<std::string> iniBytes_;
};

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

std::string ConfigurationCommit::chosenServerIni(const std::string& programPath) {
    writeLog("open ini file");
    if (trimmed(programPath).empty()) return {};
    writeLog("get all ini files");
    const ServerIniFiles found = findServerIniFiles(trimmed(programPath));
    if (found.daemonIni.empty() || found.servuIni.empty())
        return found.daemonIni.empty() ? found.servuIni : found.daemonIni;
    const Answer answer = boxes_.show(
        titledMessage("There were two Serv-U INI files found.\r\n\r\nWould you like to use "
                      "\"Serv-u.INI\"?\r\nPress \"No\" to use \"Servudaemon.ini\"",
                      MessageIcon::Question, MessageButtons::YesNo));
    return answer == Answer::Yes ? found.servuIni : found.daemonIni;
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

    // Everything that can be checked is checked before anything is stored:
    // the server's configuration file, and room for the plug-in.
    const std::string ini = chosenServerIni(fields.servuPath);
    std::error_code ec;
    if (ini.empty() || !fs::is_regular_file(ini, ec)) {
        const Answer answer = boxes_.show(titledMessage(
            "The Serv-u.ini file was not found in the path specified.\r\n\r\nWould you like "
            "to try a different program path?",
            MessageIcon::Exclamation, MessageButtons::YesNoCancel));
        return answer == Answer::Yes ? CommitResult::OtherProgramPath : CommitResult::Stopped;
    }
    const std::optional<std::string> iniBytes = fileBytes(ini);
    if (!iniBytes && !written("The FTP server's configuration file " + ini + " could not be read",
                              WriteResult::failed(errno != 0 ? errno : EIO)))
        return CommitResult::NotStored;
    const fs::path plugin = fs::path(fields.servuPath) / kPluginFileName;
    const bool pluginMissing = !fs::exists(fs::symlink_status(plugin, ec));
    if (pluginMissing && ::access(fields.servuPath.c_str(), W_OK | X_OK) != 0 &&
        !written("The plug-in could not be written into " + fields.servuPath,
                 WriteResult::failed(errno)))
        return CommitResult::NotStored;

    const SettingsStore store = SettingsStore::fromEnvironment();
    CommitUndo undo;
    undo.keepDirectory(store.keyDirectory(kSettingsKey));
    undo.keepDirectory(store.keyDirectory(kConnectionStringKey));
    for (std::string_view name :
         {kServuPathValue, kFtpDirectoryValue, kIniPathValue, kUpdateServerValue})
        undo.keepValue(store.valueFile(kSettingsKey, name));
    undo.keepValue(store.valueFile(kConnectionStringKey, ""));
    const auto stopped = [&undo] {
        undo.undo();
        return CommitResult::NotStored;
    };

    writeLog("Save settings into registry");
    if (!settingStored("The Serv-U program path", kSettingsKey, kServuPathValue,
                       writeSetting(kServuPathValue, fields.servuPath)) ||
        !settingStored("The FTP directory path", kSettingsKey, kFtpDirectoryValue,
                       writeSetting(kFtpDirectoryValue, fields.ftpDirectory)) ||
        !settingStored("The update server", kSettingsKey, kUpdateServerValue,
                       writeSetting(kUpdateServerValue, fields.updateServer)))
        return stopped();

    writeLog("If the dll does not exist make it");
    if (!written("The plug-in could not be written into " + fields.servuPath,
                 installPluginFile(fields.servuPath, embeddedPluginBytes())))
        return stopped();
    if (pluginMissing) undo.madeFile(plugin);

    undo.keepIni(ini, *iniBytes);
    if (!settingStored("The path of the FTP server's configuration file", kSettingsKey,
                       kIniPathValue, writeSetting(kIniPathValue, ini)) ||
        !written("The FTP server's configuration file " + ini + " could not be changed",
                 enterPlugin(ini)))
        return stopped();

    // Made before the connection string is stored, so that a file that
    // cannot be made leaves the stored string naming the old database.
    if (newDatabase) {
        if (!written("The database file " + *newDatabase + " could not be created",
                     createDatabaseFromTemplate(*newDatabase)))
            return stopped();
        undo.madeFile(*newDatabase);
    }

    writeLog("save connection string");
    if (!settingStored("The connection string", kConnectionStringKey, "",
                       writeConnectionString(fields.connectionString)))
        return stopped();

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

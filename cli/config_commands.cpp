// config show and config set: the configuration dialog's values and commit.
#include <filesystem>
#include <iostream>

#include "cli/cli_prompts.h"
#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/loaded_user.h"
#include "cli/password_input.h"
#include "core/connection_string.h"
#include "core/database.h"
#include "core/settings.h"
#include "core/text_routines.h"
#include "setup/configuration_commit.h"
#include "setup/server_ini.h"

namespace kestrix::cli {

namespace {

// Whether the database of the stored connection string holds the users
// table; no value when it could not be asked.
std::optional<bool> holdsUserTables() {
    Database db;
    if (!openDatabase(db, 1)) return std::nullopt;
    return static_cast<bool>(db.query("select username from users where 1=0"));
}

}  // namespace

int configShow(const Invocation& in) {
    const std::string servuPath = getRegSettings(kServuPathValue);
    const std::string ftpDirectory = getRegSettings(kFtpDirectoryValue);
    const std::string iniPath = getRegSettings(kIniPathValue);
    const std::string updateServer = getRegSettings(kUpdateServerValue);
    const std::string connection = maskedConnectionString(readConnectionString());
    if (in.json()) {
        std::cout << JsonObject()
                         .text("servu_path", servuPath)
                         .text("ftp_directory", ftpDirectory)
                         .text("ini_path", iniPath)
                         .text("connection_string", connection)
                         .text("update_server", updateServer)
                         .str()
                  << '\n';
    } else {
        std::cout << "servu_path: " << servuPath << '\n'
                  << "ftp_directory: " << ftpDirectory << '\n'
                  << "ini_path: " << iniPath << '\n'
                  << "connection_string: " << connection << '\n'
                  << "update_server: " << updateServer << '\n';
    }
    return kExitDone;
}

int configSet(const Invocation& in) {
    std::optional<std::string> connection = in.value("--connection-string");
    if (in.has("--connection-string-stdin")) {
        if (connection) return refuse("Give --connection-string or --connection-string-stdin.");
        // Off the command line, where every user of the computer sees it.
        connection = secretFromStandardInput("Connection string: ");
        if (!connection) return refuse("Standard input holds no connection string.");
    }
    ConfigureFields fields{
        in.value("--servu-path").value_or(getRegSettings(kServuPathValue)),
        in.value("--ftp-dir").value_or(getRegSettings(kFtpDirectoryValue)),
        connection.value_or(readConnectionString()),
        in.value("--update-server").value_or(getRegSettings(kUpdateServerValue))};
    const auto ini = in.value("--ini");
    if (ini && *ini != "servudaemon" && *ini != "serv-u") {
        std::cerr << "--ini takes servudaemon or serv-u.\n";
        return kExitUsage;
    }
    // Refused before anything is stored: every later command would fail.
    if (!trimmed(fields.connectionString).empty()) {
        const std::string problem = connectionStringProblem(fields.connectionString);
        if (!problem.empty()) return refuse(terminalText(problem));
    }
    CliPrompts prompts(in.yes());
    // Both of the server's files there: the dialog asks which one, here the
    // flag says it. Asked before anything is stored.
    const ServerIniFiles found = findServerIniFiles(trimmed(fields.servuPath));
    if (!found.daemonIni.empty() && !found.servuIni.empty()) {
        if (!ini) {
            return refuse("There were two Serv-U INI files found (" + found.daemonIni + ", " +
                          found.servuIni + "). Choose one with --ini servudaemon or --ini serv-u.");
        }
        prompts.preset("There were two Serv-U INI files found.",
                       *ini == "serv-u" ? Answer::Yes : Answer::No);
    }
    // No database is made without asking: the command line never offers one.
    const CommitResult result = ConfigurationCommit(prompts, {}).run(fields);
    switch (result) {
        case CommitResult::Committed:
            if (holdsUserTables() == false)
                std::cerr << "The database holds no user tables yet: create them with kestrix "
                             "db init.\n";
            return kExitDone;
        case CommitResult::OtherProgramPath:
            return refuse("Give another program path with --servu-path.");
        default:
            return kExitRefused;
    }
}

}  // namespace kestrix::cli

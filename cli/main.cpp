// kestrix: the jobs of Tavix's main window and per-user dialogs from a
// shell, and the plug-in's answer to "may this user do that here?".
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_prompts.h"
#include "cli/commands.h"
#include "core/activity_log.h"
#include "core/database.h"
#include "core/password_storage.h"
#include "core/short_date.h"

namespace {

using namespace kestrix::cli;

struct Command {
    std::vector<std::string> words;
    std::string synopsis;
    std::set<std::string> valueFlags;
    std::set<std::string> switches;
    std::size_t minOperands;
    std::size_t maxOperands;
    int (*run)(const Invocation&);
};

const std::set<std::string> kUserFields = {"--password",
                                           "--home",
                                           "--notes",
                                           "--disabled",
                                           "--relative-paths",
                                           "--hide-hidden",
                                           "--always-login",
                                           "--one-login-per-ip",
                                           "--max-logins-per-ip",
                                           "--max-speed",
                                           "--idle-timeout",
                                           "--session-timeout",
                                           "--max-users",
                                           "--login-message-file",
                                           "--expires",
                                           "--disable-on",
                                           "--ratio",
                                           "--ratio-upload",
                                           "--ratio-download",
                                           "--ratio-credit",
                                           "--credit-unit",
                                           "--quota",
                                           "--quota-max",
                                           "--quota-unit"};

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {{"config", "show"}, "config show [--json]", {}, {}, 0, 0, configShow},
        {{"config", "set"},
         "config set [--servu-path DIR] [--ftp-dir DIR] [--connection-string TEXT] "
         "[--update-server URL] [--ini servudaemon|serv-u] [--yes]",
         {"--servu-path", "--ftp-dir", "--connection-string", "--update-server", "--ini"},
         {},
         0,
         0,
         configSet},
        {{"user", "list"},
         "user list [--duplicates] [--json]",
         {},
         {"--duplicates"},
         0,
         0,
         userList},
        {{"user", "show"}, "user show NAME [--json]", {}, {}, 1, 1, userShow},
        {{"user", "add"},
         "user add NAME [--password-stdin|--password TEXT] [--home DIR] [--notes TEXT] [--yes]",
         {"--password", "--home", "--notes"},
         {"--password-stdin"},
         1,
         1,
         userAdd},
        {{"user", "copy"},
         "user copy NAME NEWNAME [--password-stdin|--password TEXT] --yes",
         {"--password"},
         {"--password-stdin"},
         2,
         2,
         userCopy},
        {{"user", "passwd"},
         "user passwd NAME [--password-stdin|--password TEXT]",
         {"--password"},
         {"--password-stdin"},
         1,
         1,
         userPasswd},
        {{"user", "delete"}, "user delete NAME --yes", {}, {}, 1, 1, userDelete},
        {{"user", "set"},
         "user set NAME [--password TEXT] [--home DIR] [--notes TEXT] [--disabled on|off]\n"
         "      [--relative-paths on|off] [--hide-hidden on|off] [--always-login on|off]\n"
         "      [--one-login-per-ip on|off] [--max-logins-per-ip N|off] [--max-speed KBPS]\n"
         "      [--idle-timeout MIN] [--session-timeout MIN] [--max-users N]\n"
         "      [--login-message-file FILE] [--expires DATE|never] [--disable-on DATE|never]\n"
         "      [--ratio off|files-per-session|bytes-per-session|files-overall|bytes-overall]\n"
         "      [--ratio-upload N] [--ratio-download N] [--ratio-credit N] [--credit-unit kb|mb]\n"
         "      [--quota on|off] [--quota-max N] [--quota-unit kb|mb] [--yes]",
         kUserFields,
         {},
         1,
         1,
         userSet},
        {{"user", "rule", "list"}, "user rule list NAME [--json]", {}, {}, 1, 1, ruleList},
        {{"user", "rule", "add"},
         "user rule add NAME DIR [--rights LETTERS] [--inherit|--no-inherit]",
         {"--rights"},
         {"--inherit", "--no-inherit"},
         2,
         2,
         ruleAdd},
        {{"user", "rule", "edit"},
         "user rule edit NAME PLACE [--dir DIR] [--rights LETTERS] [--inherit|--no-inherit]",
         {"--dir", "--rights"},
         {"--inherit", "--no-inherit"},
         2,
         2,
         ruleEdit},
        {{"user", "rule", "remove"}, "user rule remove NAME PLACE", {}, {}, 2, 2, ruleRemove},
        {{"user", "rule", "move"}, "user rule move NAME PLACE up|down", {}, {}, 3, 3, ruleMove},
        {{"user", "block", "list"}, "user block list NAME [--json]", {}, {}, 1, 1, blockList},
        {{"user", "block", "add"}, "user block add NAME ADDRESS", {}, {}, 2, 2, blockAdd},
        {{"user", "block", "remove"}, "user block remove NAME ADDRESS", {}, {}, 2, 2, blockRemove},
        {{"ip", "list"}, "ip list [--json]", {}, {}, 0, 0, ipList},
        {{"ip", "add"}, "ip add ADDRESS", {}, {}, 1, 1, ipAdd},
        {{"ip", "remove"}, "ip remove ADDRESS", {}, {}, 1, 1, ipRemove},
        {{"apply-dates"}, "apply-dates", {}, {}, 0, 0, applyDates},
        {{"db", "upgrade"},
         "db upgrade [--hash-passwords]",
         {},
         {"--hash-passwords"},
         0,
         0,
         dbUpgrade},
        {{"check"},
         "check NAME login|list|download|upload|append|delete|rename|mkdir|rmdir [PATH]\n"
         "      [NEWPATH] [--from ADDRESS] [--json]   (NEWPATH: the new name, for rename)",
         {"--from"},
         {},
         2,
         4,
         check},
    };
    return table;
}

void printUsage(std::ostream& out) {
    out << "Usage: kestrix COMMAND ...\n\n";
    for (const Command& command : commands())
        out << "  kestrix " << command.synopsis << '\n';
    out << "\nEvery command takes --yes (answer Yes to the program's questions), --json\n"
           "(listings as JSON) and --log (the activity log on standard error).\n"
           "A password is asked twice on the terminal, without echo, or read as one line\n"
           "of standard input with --password-stdin. --password TEXT is for scripts only:\n"
           "other users of this computer can see it (ps, /proc) and it stays in the\n"
           "shell's history.\n"
           "Exit status: 0 done or allowed, 1 refused (the reason on standard error),\n"
           "2 usage error, 3 check: the plug-in would refuse.\n";
}

}  // namespace

int main(int argc, char** argv) {
    kestrix::takeLocaleFromEnvironment();
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        printUsage(words.empty() ? std::cerr : std::cout);
        return words.empty() ? kExitUsage : kExitDone;
    }
    const Command* chosen = nullptr;
    for (const Command& command : commands()) {
        if (words.size() >= command.words.size() &&
            std::equal(command.words.begin(), command.words.end(), words.begin()) &&
            (!chosen || command.words.size() > chosen->words.size()))
            chosen = &command;
    }
    if (!chosen) {
        std::cerr << "Unknown command.\n\n";
        printUsage(std::cerr);
        return kExitUsage;
    }
    std::set<std::string> switches = chosen->switches;
    switches.insert({"--yes", "--json", "--log"});
    std::string error;
    const auto invocation = parseInvocation(
        std::vector<std::string>(words.begin() + static_cast<long>(chosen->words.size()),
                                 words.end()),
        chosen->valueFlags, switches, chosen->minOperands, chosen->maxOperands, error);
    if (!invocation) {
        std::cerr << error << "\nUsage: kestrix " << chosen->synopsis << '\n';
        return kExitUsage;
    }
    if (invocation->switches.contains("--log")) {
        kestrix::programLog().attach(
            [](const std::string& line) { std::cerr << terminalText(line); });
    }
    // Once per run, on standard error whatever --log says.
    kestrix::setClearTextNoticeHandler(
        [](const std::string& notice) { std::cerr << notice << '\n'; });
    CliOpenFailure openFailure;
    kestrix::setOpenFailureHandler(&openFailure);
    const int status = chosen->run(*invocation);
    kestrix::setOpenFailureHandler(nullptr);
    return status;
}

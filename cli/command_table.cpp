#include "cli/command_table.h"

#include <algorithm>
#include <set>
#include <sstream>

#include "cli/commands.h"

namespace kestrix::cli {

namespace {

const char* const kSectionConfig = "Configuration";
const char* const kSectionDatabase = "Database";
const char* const kSectionUsers = "Users";
const char* const kSectionRules = "Directory rules";
const char* const kSectionFiles = "File rules and ratio-free files";
const char* const kSectionAddresses = "Blocked addresses";
const char* const kSectionDates = "Account dates";
const char* const kSectionCheck = "Asking what the FTP server would answer";
const char* const kSectionSessions = "FTP sessions";

OptionEntry yesToDelete() {
    return {"--yes", "", "answer Yes to the question; without it nothing is deleted"};
}

std::vector<OptionEntry> passwordOptions() {
    return {{"--password-stdin", "", "read the password as one line of standard input"},
            {"--password", "TEXT",
             "the password, for scripts only: other users of this computer can see it"}};
}

std::vector<OptionEntry> userSetOptions() {
    const char* onOff = "on|off";
    return {
        {"--password-stdin", "", "a new password, read as one line of standard input"},
        {"--password", "TEXT",
         "a new password, for scripts only: other users of this computer can see it"},
        {"--home", "DIR", "the home directory, a full path"},
        {"--notes", "TEXT", "the notes"},
        {"--disabled", onOff, "the account is disabled"},
        {"--relative-paths", onOff, "paths are shown relative to the home directory"},
        {"--hide-hidden", onOff, "hidden files are not listed"},
        {"--always-login", onOff, "the user may log in beyond the server's user limit"},
        {"--one-login-per-ip", onOff, "one login from each address"},
        {"--max-logins-per-ip", "N|off", "logins from one address"},
        {"--max-speed", "KBPS", "the transfer speed limit"},
        {"--idle-timeout", "MIN", "the idle time-out in minutes"},
        {"--session-timeout", "MIN", "the session time-out in minutes"},
        {"--max-users", "N", "concurrent sessions of the account"},
        {"--login-message-file", "FILE", "the login message file"},
        {"--expires", "DATE|never",
         "the expiry date, in the short date form or as YYYY-MM-DD (stored as YYYY-MM-DD); a "
         "date that has come asks first, as the next daily run deletes the account"},
        {"--disable-on", "DATE|never",
         "the date on which the account is disabled, in the same forms; a date that has come "
         "asks first. On a disabled account the date is stored as well"},
        {"--ratio", "off|files-per-session|bytes-per-session|files-overall|bytes-overall",
         "the upload/download ratio and its type"},
        {"--ratio-upload", "N", "the upload side of the ratio"},
        {"--ratio-download", "N", "the download side of the ratio"},
        {"--ratio-credit", "N", "the ratio credit"},
        {"--credit-unit", "kb|mb", "the unit of a credit in bytes"},
        {"--quota", onOff, "the disk quota; on needs a maximum, stored or given with --quota-max"},
        {"--quota-max", "N", "the quota's maximum"},
        {"--quota-unit", "kb|mb", "the unit of --quota-max (mb when not given)"},
        {"--yes", "", "answer Yes to the questions"},
    };
}

std::vector<OptionEntry> inheritOptions() {
    return {{"--inherit", "", "the rule applies to sub-directories too"},
            {"--no-inherit", "", "the rule applies to the directory alone"}};
}

std::vector<OptionEntry> joined(std::vector<OptionEntry> a, const std::vector<OptionEntry>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const char* const kRightsHelp =
    "LETTERS are the rights, from R (read), W (write), A (append), M (delete: delete and "
    "rename files), E (execute), L (list), C (make directories) and D (remove directories).";

}  // namespace

const std::vector<OptionEntry>& commonOptions() {
    static const std::vector<OptionEntry> options = {
        {"--json", "", "listings as JSON"},
        {"--log", "", "the activity log on standard error"},
        {"--yes", "", "answer Yes to the program's questions"},
        {"--help", "", "this command's usage"},
    };
    return options;
}

const std::vector<CommandEntry>& commandTable() {
    static const std::vector<CommandEntry> table = {
        {{"config", "show"},
         "",
         0,
         0,
         {{"--json", "", "as JSON"}},
         {},
         kSectionConfig,
         "Prints the stored FTP server program directory, default FTP root, server "
         "configuration file, database connection string (its password as ***) and update "
         "server.",
         configShow},
        {{"config", "set"},
         "",
         0,
         0,
         {{"--servu-path", "DIR", "the FTP server's program directory"},
          {"--ftp-dir", "DIR", "the default FTP root, the home directory of new users"},
          {"--connection-string", "TEXT",
           "Provider=SQLite;Data Source=FILE (a full path) or "
           "Provider=PostgreSQL;Data Source=HOST[:PORT];Initial Catalog=DB;User ID=USER;"
           "Password=SECRET; other users of this computer can see it"},
          {"--connection-string-stdin", "",
           "the connection string as one line of standard input (typed without echo on a "
           "terminal)"},
          {"--update-server", "URL",
           "the update server that Check for Updates asks, http:// or https://; empty: none"},
          {"--ini", "servudaemon|serv-u",
           "which of the server's two configuration files to patch when the directory holds "
           "both"},
          {"--yes", "", "answer Yes, for instance to creating a SQLite file that is missing"}},
         {},
         kSectionConfig,
         "Commits a configuration as the configuration dialog does: checks the paths and the "
         "connection string (a SQLite file by its full path; the provider SQLite or "
         "PostgreSQL), writes the plug-in Quellin.so into the FTP server's program directory "
         "when none is there, enters it in the [EXTERNAL] section of the server's "
         "configuration file under the first free ClientCheckDLL number, stores the settings "
         "and proves that the database opens; a database without the user tables is named "
         "(db init creates them). A refusal stores nothing.",
         configSet},
        {{"db", "init"},
         "",
         0,
         0,
         {},
         {},
         kSectionDatabase,
         "Creates the user tables and their indexes in the database of the stored connection "
         "string, with the statements of the database wizard (a SQLite file is made when "
         "missing). Refused when the database holds them already.",
         dbInit},
        {{"db", "upgrade"},
         "",
         0,
         0,
         {{"--hash-passwords", "",
           "also replace every password stored in clear by its hash, in one transaction"},
          {"--dates", "",
           "also store every expiry and disable date that an earlier version wrote in a short "
           "date form as YYYY-MM-DD, in one transaction; a date that could be read two ways "
           "(12/10/2026) or not at all is listed and left for you"}},
         {},
         kSectionDatabase,
         "Widens the password column of an older database to 255 characters, so that it holds "
         "password hashes, and reports how many passwords were hashed, were hashes already, "
         "are older hashes (replaced at the user's next login) or were empty. Then ties "
         "every per-user table to users by a foreign key, so that a user's rows go with the "
         "user; refused while kestrix db check finds rows without their user. It never runs "
         "by itself.",
         dbUpgrade},
        {{"db", "check"},
         "",
         0,
         0,
         {{"--repair", "", "remove those rows, in one transaction"}},
         {},
         kSectionDatabase,
         "Lists the rows of directory rules, file rules, ratio-free files and blocked "
         "addresses whose user is not stored (table, user, entry). Exit status 1 when there "
         "are any.",
         dbCheck},
        {{"user", "list"},
         "",
         0,
         0,
         {{"--duplicates", "",
           "only the names stored more than once (in any spelling the database takes as the "
           "same name), each spelling as stored"},
          {"--json", "", "as a JSON array"}},
         {},
         kSectionUsers,
         "The names of all users, one a line, printed as they are read.",
         userList},
        {{"user", "show"},
         "NAME",
         1,
         1,
         {{"--json", "", "as a JSON object: numbers as numbers, switches as true or false"}},
         {},
         kSectionUsers,
         "The user's record, account settings, ratio, quota, directory rules and blocked "
         "addresses. It only reads.",
         userShow},
        {{"user", "add"},
         "NAME",
         1,
         1,
         joined(passwordOptions(),
                {{"--home", "DIR", "the home directory; the default FTP root when not given"},
                 {"--notes", "TEXT", "the notes"},
                 {"--yes", "", "answer Yes to the questions"}}),
         {{"--password", "--password-stdin"}},
         kSectionUsers,
         "A new user, under the name rules of the program: at most 45 characters, not one of "
         "the reserved names default, anonymous, ** default **, ** anonymous **, and not "
         "taken (names compare without regard to case). Without --password-stdin or "
         "--password the password is asked twice on the terminal, without echo.",
         userAdd},
        {{"user", "copy"},
         "NAME NEWNAME",
         2,
         2,
         joined(passwordOptions(), {{"--yes", "", "answer Yes: needed to copy"}}),
         {{"--password", "--password-stdin"}},
         kSectionUsers,
         "A new user with the home directory, notes and directory rules of NAME.",
         userCopy},
        {{"user", "passwd"},
         "NAME",
         1,
         1,
         passwordOptions(),
         {{"--password", "--password-stdin"}},
         kSectionUsers,
         "Gives the user a new password, stored as a salted yescrypt hash unless the "
         "database's password column is too narrow for one (see db upgrade).",
         userPasswd},
        {{"user", "delete"},
         "NAME",
         1,
         1,
         {yesToDelete()},
         {},
         kSectionUsers,
         "Deletes the user with its directory rules, file rules, ratio-free files and blocked "
         "addresses.",
         userDelete},
        {{"user", "set"},
         "NAME",
         1,
         1,
         userSetOptions(),
         {},
         kSectionUsers,
         "Changes fields of the user record and of the per-user dialogs. Every check of the "
         "dialogs runs before anything is written, and everything is written in one "
         "transaction.",
         userSet},
        {{"user", "rule", "list"},
         "NAME",
         1,
         1,
         {{"--json", "", "as JSON"}},
         {},
         kSectionRules,
         "The user's directory rules by their place, counted from 1. Each rule that covers a "
         "path (its directory, or below it when inherited) sets the answer, so the last one "
         "that covers the path decides.",
         ruleList},
        {{"user", "rule", "add"},
         "NAME DIR",
         2,
         2,
         joined({{"--rights", "LETTERS", "the rights"}}, inheritOptions()),
         {{"--inherit", "--no-inherit"}},
         kSectionRules,
         std::string("Appends a rule. ") + kRightsHelp,
         ruleAdd},
        {{"user", "rule", "edit"},
         "NAME PLACE",
         2,
         2,
         joined({{"--dir", "DIR", "a new directory"}, {"--rights", "LETTERS", "new rights"}},
                inheritOptions()),
         {{"--inherit", "--no-inherit"}},
         kSectionRules,
         "Changes the rule at PLACE.",
         ruleEdit},
        {{"user", "rule", "remove"},
         "NAME PLACE",
         2,
         2,
         {},
         {},
         kSectionRules,
         "Removes the rule at PLACE.",
         ruleRemove},
        {{"user", "rule", "move"},
         "NAME PLACE up|down",
         3,
         3,
         {},
         {},
         kSectionRules,
         "Moves the rule at PLACE one place up or down.",
         ruleMove},
        {{"user", "file-rule", "list"},
         "NAME",
         1,
         1,
         {{"--json", "", "as JSON"}},
         {},
         kSectionFiles,
         "The user's file rules: a file by its full path and its rights, which decide for "
         "that file after the directory rules (the last rule for a file decides).",
         fileRuleList},
        {{"user", "file-rule", "add"},
         "NAME FILE",
         2,
         2,
         {{"--rights", "LETTERS", "the rights on the file, at most 5 letters", true}},
         {},
         kSectionFiles,
         std::string("Appends a file rule. ") + kRightsHelp,
         fileRuleAdd},
        {{"user", "file-rule", "remove"},
         "NAME FILE",
         2,
         2,
         {},
         {},
         kSectionFiles,
         "Removes the user's file rules for FILE.",
         fileRuleRemove},
        {{"user", "ratio-free", "list"},
         "NAME",
         1,
         1,
         {{"--json", "", "as JSON"}},
         {},
         kSectionFiles,
         "The files that do not count against the user's upload/download ratio; NAME * "
         "lists those free for every user.",
         ratioFreeList},
        {{"user", "ratio-free", "add"},
         "NAME FILE",
         2,
         2,
         {},
         {},
         kSectionFiles,
         "Makes FILE (a full path) free of the user's ratio; NAME * makes it free for every "
         "user.",
         ratioFreeAdd},
        {{"user", "ratio-free", "remove"},
         "NAME FILE",
         2,
         2,
         {},
         {},
         kSectionFiles,
         "Counts FILE against the ratio again.",
         ratioFreeRemove},
        {{"user", "block", "list"},
         "NAME",
         1,
         1,
         {{"--json", "", "as JSON"}},
         {},
         kSectionAddresses,
         "The addresses from which the user may not log in. A stored line that is no "
         "address, pattern or block is named on standard error: it blocks nobody.",
         blockList},
        {{"user", "block", "add"},
         "NAME ADDRESS",
         2,
         2,
         {},
         {},
         kSectionAddresses,
         "Blocks an address: an IPv4 address (10.0.0.7), a pattern whose parts are each a "
         "number, * or a range a-b (10.0.*.1-20), or a CIDR block (10.0.0.0/24); numbers 0 "
         "to 255, at most 15 characters.",
         blockAdd},
        {{"user", "block", "remove"},
         "NAME ADDRESS",
         2,
         2,
         {},
         {},
         kSectionAddresses,
         "Removes a blocked address.",
         blockRemove},
        {{"ip", "list"},
         "",
         0,
         0,
         {{"--json", "", "as JSON"}},
         {},
         kSectionAddresses,
         "The server-wide list of blocked addresses, asked for every client before it names "
         "a user.",
         ipList},
        {{"ip", "add"},
         "ADDRESS",
         1,
         1,
         {},
         {},
         kSectionAddresses,
         "Adds an address to the server-wide list, in the forms of user block add.",
         ipAdd},
        {{"ip", "remove"},
         "ADDRESS",
         1,
         1,
         {},
         {},
         kSectionAddresses,
         "Removes an address from the server-wide list.",
         ipRemove},
        {{"apply-dates"},
         "",
         0,
         0,
         {},
         {},
         kSectionDates,
         "Deletes the users whose expiry date has come, with all their rows, and disables "
         "the users whose disable date has come, as the running program does every 24 "
         "hours. The timer kestrix-apply-dates.timer runs it daily when enabled.",
         applyDates},
        {{"check"},
         "NAME login|list|download|upload|append|delete|rename|mkdir|rmdir [PATH [NEWPATH]]",
         2,
         4,
         {{"--from", "ADDRESS", "the client's IPv4 address"}, {"--json", "", "as JSON"}},
         {},
         kSectionCheck,
         "Answers whether the plug-in would allow NAME the action on PATH (a full path; "
         "NEWPATH is the new name, for rename), coming from ADDRESS, and says why: the rule "
         "that decided, the home directory, the blocked address, or a missing or disabled "
         "account. Exit status 3 when it would refuse.",
         check},
        {{"session", "list"},
         "",
         0,
         0,
         {{"--json", "", "as JSON"}},
         {},
         kSectionSessions,
         "The logged-in FTP sessions of every host on the PostgreSQL database: id, host, "
         "process, account, address and since when (UTC). A host that stopped without signing "
         "its sessions off keeps them listed, and counted, until its heartbeat is older than "
         "its SessionTimeout. With SQLite each FTP server counts its own sessions and none are "
         "listed.",
         sessionList},
        {{"session", "end"},
         "USER|ID",
         1,
         1,
         {},
         {},
         kSectionSessions,
         "Ends the session of that id, or every session of that user, on whichever host holds "
         "it: its answering service ends it at the session's next command.",
         sessionEnd},
    };
    return table;
}

const CommandEntry* findCommand(const std::vector<std::string>& words) {
    const CommandEntry* chosen = nullptr;
    for (const CommandEntry& command : commandTable()) {
        if (words.size() >= command.words.size() &&
            std::equal(command.words.begin(), command.words.end(), words.begin()) &&
            (!chosen || command.words.size() > chosen->words.size()))
            chosen = &command;
    }
    return chosen;
}

std::string commandName(const CommandEntry& command) {
    std::string name;
    for (const std::string& word : command.words)
        name += (name.empty() ? "" : " ") + word;
    return name;
}

namespace {

// The options in synopsis order, each exclusive pair once: "[--a|--b VALUE]".
std::vector<std::string> optionTerms(const CommandEntry& command) {
    std::vector<std::string> terms;
    std::set<std::string> done;
    for (const OptionEntry& option : command.options) {
        if (done.contains(option.name)) continue;
        std::string term = option.name;
        std::string value = option.value;
        for (const auto& [a, b] : command.exclusive) {
            const std::string* other = option.name == a ? &b : option.name == b ? &a : nullptr;
            if (!other) continue;
            const auto found = std::find_if(command.options.begin(), command.options.end(),
                                            [&](const OptionEntry& o) { return o.name == *other; });
            if (found == command.options.end()) continue;
            done.insert(*other);
            // A switch first, then the option with its value.
            if (option.isSwitch()) {
                term = option.name + "|" + found->name;
                value = found->value;
            } else {
                term = found->name + "|" + option.name;
            }
        }
        done.insert(option.name);
        const std::string shown = term + (value.empty() ? "" : " " + value);
        terms.push_back(option.required ? shown : "[" + shown + "]");
    }
    return terms;
}

// Words to the width, continued lines indented; a bracketed option stays
// on one line.
std::string wrapped(const std::string& text, std::size_t indent, std::size_t width = 79) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    int depth = 0;
    while (in >> word) {
        if (depth > 0)
            words.back() += " " + word;
        else
            words.push_back(word);
        for (char c : word)
            depth += c == '[' ? 1 : c == ']' ? -1 : 0;
    }
    std::string out;
    std::size_t column = 0;
    for (const std::string& w : words) {
        if (column > indent && column + 1 + w.size() > width) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (column > 0) {
            out += ' ';
            ++column;
        }
        out += w;
        column += w.size();
    }
    return out;
}

// Text for roff: backslashes and dashes escaped, no line starting with a dot.
std::string roff(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else if (c == '|')
            out += "|\\:";  // a long list of choices may break after a bar
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

// Operand words in italics, the literal alternatives ("up|down") in bold.
std::string roffOperands(const std::string& operands) {
    std::istringstream words(operands);
    std::string out;
    std::string word;
    while (words >> word) {
        const bool literal =
            std::any_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; });
        out += std::string(" ") + (literal ? "\\fB" : "\\fI") + roff(word) + "\\fR";
    }
    return out;
}

std::string roffTerm(const std::string& term) {
    // "[--a|--b VALUE]": the flags bold, the value in italics.
    const bool optional = term.starts_with('[');
    const std::string inner = optional ? term.substr(1, term.size() - 2) : term;
    const std::size_t space = inner.find(' ');
    std::string out = "\\fB" + roff(inner.substr(0, space)) + "\\fR";
    if (space != std::string::npos) out += " \\fI" + roff(inner.substr(space + 1)) + "\\fR";
    return optional ? "[" + out + "]" : out;
}

std::string roffSynopsis(const CommandEntry& command) {
    std::string line =
        "\\fBkestrix " + roff(commandName(command)) + "\\fR" + roffOperands(command.operands);
    for (const std::string& term : optionTerms(command))
        line += " " + roffTerm(term);
    return line;
}

void replaceAll(std::string& text, std::string_view from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::vector<std::string> sections() {
    std::vector<std::string> names;
    for (const CommandEntry& command : commandTable())
        if (std::find(names.begin(), names.end(), command.section) == names.end())
            names.push_back(command.section);
    return names;
}

// The words that may follow the given leading command words.
std::vector<std::string> nextWords(const std::vector<std::string>& leading) {
    std::vector<std::string> next;
    for (const CommandEntry& command : commandTable()) {
        if (command.words.size() <= leading.size() ||
            !std::equal(leading.begin(), leading.end(), command.words.begin()))
            continue;
        const std::string& word = command.words[leading.size()];
        if (std::find(next.begin(), next.end(), word) == next.end()) next.push_back(word);
    }
    return next;
}

std::vector<std::string> allOptionNames(const CommandEntry& command) {
    std::vector<std::string> names;
    for (const OptionEntry& option : command.options)
        names.push_back(option.name);
    for (const OptionEntry& option : commonOptions())
        if (std::find(names.begin(), names.end(), option.name) == names.end())
            names.push_back(option.name);
    return names;
}

std::string joinedWords(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& word : words)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

// The fixed choices of an option's value ("on|off"), or none.
std::vector<std::string> choicesOf(const OptionEntry& option) {
    std::vector<std::string> choices;
    if (option.value.find('|') == std::string::npos) return choices;
    std::string part;
    std::istringstream parts(option.value);
    while (std::getline(parts, part, '|'))
        if (!part.empty() && std::all_of(part.begin(), part.end(),
                                         [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; }))
            choices.push_back(part);
    return choices;
}

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::string synopsisOf(const CommandEntry& command) {
    std::string line = "kestrix " + commandName(command);
    if (!command.operands.empty()) line += " " + command.operands;
    for (const std::string& term : optionTerms(command))
        line += " " + term;
    return line;
}

std::string versionText() {
    return std::string("kestrix ") + KESTRIX_CLI_VERSION + "\n";
}

void printUsage(std::ostream& out) {
    out << "Usage: kestrix COMMAND ...\n       kestrix COMMAND --help\n       kestrix "
           "--version\n\n";
    for (const CommandEntry& command : commandTable())
        out << "  " << wrapped(synopsisOf(command), 6) << '\n';
    out << "\nEvery command takes --yes (answer Yes to the program's questions), --json\n"
           "(listings as JSON), --log (the activity log on standard error) and --help.\n"
           "-- ends the options. A password is asked twice on the terminal, without echo,\n"
           "or read as one line of standard input with --password-stdin. --password TEXT\n"
           "is for scripts only: other users of this computer can see it (ps, /proc) and\n"
           "it stays in the shell's history.\n"
           "Exit status: 0 done or allowed, 1 refused (the reason on standard error),\n"
           "2 usage error, 3 check: the plug-in would refuse.\n";
}

bool printGroupUsage(std::ostream& out, const std::vector<std::string>& leading) {
    bool any = false;
    for (const CommandEntry& command : commandTable()) {
        if (command.words.size() < leading.size() ||
            !std::equal(leading.begin(), leading.end(), command.words.begin()))
            continue;
        if (!any) out << "Usage:\n";
        any = true;
        out << "  " << wrapped(synopsisOf(command), 6) << '\n';
    }
    return any;
}

void printCommandHelp(std::ostream& out, const CommandEntry& command) {
    out << "Usage: " << wrapped(synopsisOf(command), 7) << "\n\n"
        << wrapped(command.summary, 0) << "\n\nOptions:\n";
    std::vector<OptionEntry> options = command.options;
    for (const OptionEntry& option : commonOptions())
        if (std::none_of(options.begin(), options.end(),
                         [&](const OptionEntry& o) { return o.name == option.name; }))
            options.push_back(option);
    for (const OptionEntry& option : options) {
        const std::string head = "  " + option.name + (option.isSwitch() ? "" : " " + option.value);
        out << head << "\n      " << wrapped(option.help, 6) << '\n';
    }
}

std::string manPage(std::string_view pageTemplate, std::string_view version) {
    std::string synopsis;
    for (const CommandEntry& command : commandTable())
        synopsis += ".PP\n" + roffSynopsis(command) + "\n";
    std::string entries;
    for (const std::string& section : sections()) {
        entries += ".SS " + roff(section) + "\n";
        for (const CommandEntry& command : commandTable()) {
            if (command.section != section) continue;
            entries += ".TP\n" + roffSynopsis(command) + "\n" + roff(command.summary) + "\n";
            bool any = false;
            for (const OptionEntry& option : command.options) {
                if (!any) entries += ".RS\n";
                any = true;
                entries += ".TP\n\\fB" + roff(option.name) + "\\fR" +
                           (option.isSwitch() ? "" : " \\fI" + roff(option.value) + "\\fR") + "\n" +
                           roff(option.help) + "\n";
            }
            if (any) entries += ".RE\n";
        }
    }
    std::string page(pageTemplate);
    replaceAll(page, "@SYNOPSIS@\n", synopsis);
    replaceAll(page, "@COMMANDS@\n", entries);
    replaceAll(page, "@PROJECT_VERSION@", std::string(version));
    return page;
}

std::string bashCompletion() {
    std::string out =
        "# bash completion for kestrix\n"
        "_kestrix() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    local words=\"${COMP_WORDS[*]:1:COMP_CWORD-1}\" candidates=\n"
        "    case \"$prev\" in\n";
    // Values with fixed choices, and the options that take a file or directory.
    std::set<std::string> done;
    for (const CommandEntry& command : commandTable()) {
        for (const OptionEntry& option : command.options) {
            if (option.isSwitch() || done.contains(option.name)) continue;
            done.insert(option.name);
            const auto choices = choicesOf(option);
            if (!choices.empty())
                out += "        " + option.name + ") COMPREPLY=($(compgen -W " +
                       shellQuoted(joinedWords(choices)) + " -- \"$cur\")); return;;\n";
            else if (option.value == "DIR")
                out += "        " + option.name +
                       ") COMPREPLY=($(compgen -d -- \"$cur\")); "
                       "return;;\n";
            else if (option.value == "FILE")
                out += "        " + option.name +
                       ") COMPREPLY=($(compgen -f -- \"$cur\")); "
                       "return;;\n";
            else
                out += "        " + option.name + ") return;;\n";
        }
    }
    out += "    esac\n    case \"$words\" in\n";
    // The longest command words first, so that each pattern meets its own.
    std::vector<const CommandEntry*> longestFirst;
    for (const CommandEntry& command : commandTable())
        longestFirst.push_back(&command);
    std::stable_sort(longestFirst.begin(), longestFirst.end(),
                     [](const CommandEntry* a, const CommandEntry* b) {
                         return a->words.size() > b->words.size();
                     });
    for (const CommandEntry* command : longestFirst)
        out += "        \"" + commandName(*command) + "\"|\"" + commandName(*command) +
               " \"*) candidates=" + shellQuoted(joinedWords(allOptionNames(*command))) + ";;\n";
    std::vector<std::vector<std::string>> groups;
    for (const CommandEntry& command : commandTable())
        for (std::size_t n = 1; n < command.words.size(); ++n) {
            std::vector<std::string> leading(command.words.begin(),
                                             command.words.begin() + static_cast<long>(n));
            if (std::find(groups.begin(), groups.end(), leading) == groups.end())
                groups.push_back(leading);
        }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const auto& leading : groups)
        out += "        \"" + joinedWords(leading) +
               "\") candidates=" + shellQuoted(joinedWords(nextWords(leading)) + " --help") +
               ";;\n";
    out += "        \"\") candidates=" +
           shellQuoted(joinedWords(nextWords({})) + " --help --version") +
           ";;\n"
           "    esac\n"
           "    COMPREPLY=($(compgen -W \"$candidates\" -- \"$cur\"))\n"
           "}\n"
           "complete -o default -F _kestrix kestrix\n";
    return out;
}

std::string zshCompletion() {
    std::string out =
        "#compdef kestrix\n"
        "# zsh completion for kestrix\n"
        "_kestrix() {\n"
        "    local -a candidates\n"
        "    local words_before=\"${(j: :)words[2,CURRENT-1]}\"\n"
        "    case \"$words[CURRENT-1]\" in\n";
    std::set<std::string> done;
    for (const CommandEntry& command : commandTable()) {
        for (const OptionEntry& option : command.options) {
            if (option.isSwitch() || done.contains(option.name)) continue;
            done.insert(option.name);
            const auto choices = choicesOf(option);
            if (!choices.empty())
                out += "        " + option.name + ") compadd -- " + joinedWords(choices) +
                       "; return;;\n";
            else if (option.value == "DIR")
                out += "        " + option.name + ") _directories; return;;\n";
            else if (option.value == "FILE")
                out += "        " + option.name + ") _files; return;;\n";
            else
                out += "        " + option.name + ") return;;\n";
        }
    }
    out += "    esac\n    case \"$words_before\" in\n";
    std::vector<const CommandEntry*> longestFirst;
    for (const CommandEntry& command : commandTable())
        longestFirst.push_back(&command);
    std::stable_sort(longestFirst.begin(), longestFirst.end(),
                     [](const CommandEntry* a, const CommandEntry* b) {
                         return a->words.size() > b->words.size();
                     });
    for (const CommandEntry* command : longestFirst) {
        out += "        \"" + commandName(*command) + "\"|\"" + commandName(*command) +
               " \"*)\n            candidates=(";
        std::vector<OptionEntry> options = command->options;
        for (const OptionEntry& option : commonOptions())
            if (std::none_of(options.begin(), options.end(),
                             [&](const OptionEntry& o) { return o.name == option.name; }))
                options.push_back(option);
        for (const OptionEntry& option : options) {
            std::string help = option.help;
            replaceAll(help, ":", "\\:");
            out += "\n                " + shellQuoted(option.name + ":" + help);
        }
        out += ")\n            _describe option candidates; _files; return;;\n";
    }
    std::vector<std::vector<std::string>> groups;
    for (const CommandEntry& command : commandTable())
        for (std::size_t n = 1; n < command.words.size(); ++n) {
            std::vector<std::string> leading(command.words.begin(),
                                             command.words.begin() + static_cast<long>(n));
            if (std::find(groups.begin(), groups.end(), leading) == groups.end())
                groups.push_back(leading);
        }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const auto& leading : groups)
        out += "        \"" + joinedWords(leading) + "\") compadd -- " +
               joinedWords(nextWords(leading)) + "; return;;\n";
    out += "        \"\") compadd -- " + joinedWords(nextWords({})) +
           " --help --version; return;;\n"
           "    esac\n"
           "}\n"
           "_kestrix \"$@\"\n";
    return out;
}

std::string fishCompletion() {
    std::string out = "# fish completion for kestrix\ncomplete -c kestrix -f\n";
    out += "complete -c kestrix -n '__fish_use_subcommand' -l version -d 'the version'\n";
    out += "complete -c kestrix -l help -d 'usage'\n";
    // The command words: each offered after exactly the words before it.
    std::vector<std::vector<std::string>> groups = {{}};
    for (const CommandEntry& command : commandTable())
        for (std::size_t n = 1; n < command.words.size(); ++n) {
            std::vector<std::string> leading(command.words.begin(),
                                             command.words.begin() + static_cast<long>(n));
            if (std::find(groups.begin(), groups.end(), leading) == groups.end())
                groups.push_back(leading);
        }
    for (const auto& leading : groups) {
        std::string condition;
        if (leading.empty()) {
            condition = "__fish_use_subcommand";
        } else {
            condition = "test (commandline -opc | string join ' ') = " +
                        shellQuoted("kestrix " + joinedWords(leading));
        }
        out += "complete -c kestrix -n " + shellQuoted(condition) + " -a " +
               shellQuoted(joinedWords(nextWords(leading))) + "\n";
    }
    for (const CommandEntry& command : commandTable()) {
        const std::string condition = "string match -q -- " +
                                      shellQuoted("kestrix " + commandName(command) + "*") +
                                      " (commandline -opc | string join ' ')";
        for (const OptionEntry& option : command.options) {
            out +=
                "complete -c kestrix -n " + shellQuoted(condition) + " -l " + option.name.substr(2);
            if (!option.isSwitch()) {
                const auto choices = choicesOf(option);
                // Files only where the value names one.
                if (option.value == "DIR" || option.value == "FILE")
                    out += " -r -F";
                else
                    out += " -x";
                if (!choices.empty()) out += " -a " + shellQuoted(joinedWords(choices));
            }
            out += " -d " + shellQuoted(option.help.substr(0, 60)) + "\n";
        }
    }
    return out;
}

}  // namespace kestrix::cli

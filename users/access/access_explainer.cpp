#include "users/access/access_explainer.h"

#include <cstring>
#include <filesystem>

#include <sys/stat.h>

#include "core/address_pattern.h"
#include "core/database.h"
#include "plugin/access_checks.h"
#include "plugin/account_store.h"
#include "plugin/client_event.h"
#include "plugin/deadline_watch.h"
#include "plugin/event_answers.h"
#include "plugin/event_record.h"
#include "plugin/number_text.h"
#include "plugin/path_rules.h"

namespace kestrix::users {

namespace {

namespace code = plugin::code;

struct ActionName {
    CheckAction action;
    std::string_view name;
};

constexpr ActionName kActions[] = {
    {CheckAction::Login, "login"},       {CheckAction::List, "list"},
    {CheckAction::Download, "download"}, {CheckAction::Upload, "upload"},
    {CheckAction::Append, "append"},     {CheckAction::Delete, "delete"},
    {CheckAction::Rename, "rename"},     {CheckAction::Mkdir, "mkdir"},
    {CheckAction::Rmdir, "rmdir"},
};

// The record the server hands over, with the fields it fills; a text that
// does not fit is not asked about (the server refuses it).
template <std::size_t N>
bool fill(char (&field)[N], const std::string& text) {
    if (text.size() >= N) return false;
    std::memcpy(field, text.data(), text.size());
    return true;
}

std::string inheritWords(const DirRule& rule) {
    return decodeInherit(rule.inherit) ? "inherited" : "not inherited";
}

// The data text holds 511 bytes and its NUL; the server refuses a command
// on a longer path rather than ask about a cut one.
constexpr std::size_t kMaxPresentedBytes = 511;

// The first stored entry of a blocked list that matches the address, and
// the user its row is for; no value when none does (or the list cannot be
// read, which refuses as well).
struct BlockedEntry {
    std::string entry;
    std::string user;
};

std::optional<BlockedEntry> matchingEntry(const std::string& connectionString,
                                          const std::string& address, const std::string* user) {
    const auto client = parseClientAddress(address);
    Database db;
    if (!client || !db.open(connectionString)) return std::nullopt;
    std::optional<BlockedEntry> found;
    (void)db.readText(
        user ? "select ip, username from blocked_ips_by_user where username=:v1 or username='*'"
             : "select ip, '' from blocked_ips",
        user ? Database::BoundValues{*user} : Database::BoundValues{}, 2,
        [&](const Database::TextRow& row) {
            if (found || !row[0]) return;
            const auto pattern = AddressPattern::parse(*row[0]);
            if (pattern && pattern->matches(*client))
                found = BlockedEntry{*row[0], row[1].value_or("")};
        });
    return found;
}

// Why an address was refused, naming the entry that blocks it.
std::string addressRefusal(const std::string& address, const std::optional<BlockedEntry>& entry,
                           const std::string* user) {
    const std::string refused = "Refused: the address " + address;
    if (!entry)
        return refused + " is refused: the blocked address list" +
               (user ? " of " + *user : std::string()) + " cannot be read.";
    const std::string whose = !user                ? "blocked for the whole server"
                              : entry->user == "*" ? "blocked for every user"
                                                   : "in the blocked address list of " + *user;
    if (entry->entry == address) return refused + " is " + whose + ".";
    return refused + " matches " + entry->entry + ", " + whose + ".";
}

// Every directory rule that applies to the path for the letter, each tried
// alone with the plug-in's own rule walk.
std::vector<AccessAnswer::MatchedRule> applyingRules(const std::vector<plugin::DirRuleRow>& rows,
                                                     const std::string& path, char letter,
                                                     bool directory) {
    std::vector<AccessAnswer::MatchedRule> found;
    const auto target = directory ? plugin::normalizePath(path, plugin::formForLetter(letter))
                                  : plugin::fileTarget(path, letter);
    if (!target) return found;
    const std::string covered(directory ? std::string_view(*target)
                                        : plugin::parentDirectory(*target));
    for (std::size_t place = 0; place < rows.size(); ++place) {
        int deciding = -1;
        (void)plugin::applyDirectoryRules(false, covered, {rows[place]}, letter, &deciding);
        if (deciding != 0) continue;
        const plugin::DirRuleRow& row = rows[place];
        found.push_back(
            {static_cast<int>(place), DirRule{row.directory.value_or(""), row.rights.value_or(""),
                                              row.inherit.value_or("")}});
    }
    return found;
}

std::string parentOf(const std::string& presented) {
    const std::size_t slash = presented.rfind('/');
    return slash == 0 ? std::string("/") : presented.substr(0, slash);
}

}  // namespace

std::string presentedPath(std::string_view path) {
    std::string resolved;  // "" stands for the root
    std::string todo(path);
    int links = 0;
    bool missing = false;
    std::size_t at = 0;
    while (at < todo.size()) {
        std::size_t end = todo.find('/', at);
        if (end == std::string::npos) end = todo.size();
        const std::string name = todo.substr(at, end - at);
        at = end + 1;
        if (name.empty() || name == ".") continue;
        if (missing) {
            resolved.append("/").append(name);
            continue;
        }
        if (name == "..") {
            resolved.erase(resolved.empty() ? 0 : resolved.rfind('/'));
            continue;
        }
        const std::string candidate = resolved + "/" + name;
        struct stat info {};
        if (::lstat(candidate.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            missing = ::lstat(candidate.c_str(), &info) != 0;
            resolved = candidate;
            continue;
        }
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(candidate, ec).string();
        if (ec || target.empty() || ++links > 40) {
            // A link that cannot be followed: the rest is kept as written.
            resolved = candidate;
            missing = true;
            continue;
        }
        if (target.front() == '/') resolved.clear();
        todo = target + "/" + (at < todo.size() ? todo.substr(at) : std::string());
        at = 0;
    }
    return resolved.empty() ? std::string("/") : resolved;
}

const std::vector<std::string_view>& checkActionNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> all;
        for (const ActionName& entry : kActions)
            all.push_back(entry.name);
        return all;
    }();
    return names;
}

std::optional<CheckAction> parseCheckAction(std::string_view name) {
    for (const ActionName& entry : kActions) {
        if (entry.name == name) return entry.action;
    }
    return std::nullopt;
}

std::string_view checkActionName(CheckAction action) {
    for (const ActionName& entry : kActions) {
        if (entry.action == action) return entry.name;
    }
    return {};
}

std::string_view deciderName(Decider decider) {
    switch (decider) {
        case Decider::DatabaseUnavailable:
            return "database";
        case Decider::ServerAddressList:
            return "server-address";
        case Decider::UserAddressList:
            return "user-address";
        case Decider::UserMissing:
            return "no-user";
        case Decider::UserDisabled:
            return "disabled";
        case Decider::NoUsableHome:
            return "no-home";
        case Decider::NotFullPath:
            return "path";
        case Decider::DestinationExists:
            return "exists";
        case Decider::DirectoryRule:
            return "rule";
        case Decider::FileRule:
            return "file-rule";
        case Decider::HomeDirectory:
            return "home";
        case Decider::NoRule:
            return "no-rule";
        case Decider::LoginPassed:
            return "login";
    }
    return {};
}

struct AccessExplainer::Impl {
    std::string connectionString;
    plugin::DeadlineWatch watch;
    plugin::AccountStore store{[] { return std::chrono::steady_clock::now(); }, watch};
    plugin::EventAnswers answers{store};
    plugin::AccessChecks checks{store};

    // One event through the plug-in's own answers; the flag it leaves.
    bool ask(int32_t eventCode, const std::string& user, const std::string& data) {
        ClientEvent event;
        std::memset(&event, 0, sizeof event);
        event.code = eventCode;
        if (!fill(event.userName, user) || !fill(event.data, data)) return false;
        plugin::EventRecord record(event);
        answers.answer(record);
        return event.flag == 1;
    }

    AccessAnswer login(const std::string& user, const std::string& address);
    // The questions the server puts for the action, on presented paths.
    AccessAnswer rights(const std::string& user, CheckAction action, const std::string& path,
                        const std::string& newPath);
    AccessAnswer rename(const std::string& user, const std::string& path,
                        const std::string& newPath);
    // One right through the plug-in's checks, explained.
    AccessAnswer right(const std::string& user, const std::string& path, char letter,
                       bool directory);
};

AccessExplainer::AccessExplainer(const std::string& connectionString)
    : impl_(std::make_unique<Impl>()) {
    impl_->connectionString = connectionString;
    impl_->store.start(connectionString);
}

AccessExplainer::~AccessExplainer() = default;

AccessAnswer AccessExplainer::Impl::login(const std::string& user, const std::string& address) {
    AccessAnswer answer;
    if (!store.ready()) {
        answer.explanation =
            "Refused: the database cannot be opened, so every question is refused.";
        return answer;
    }
    // The server asks about the address as the client connects, before any
    // user name is known.
    if (!address.empty() && !ask(code::kAddressAllowed, "", address)) {
        answer.decider = Decider::ServerAddressList;
        answer.explanation =
            addressRefusal(address, matchingEntry(connectionString, address, nullptr), nullptr);
        return answer;
    }
    if (!ask(code::kHomeDirectory, user, "")) {
        const auto row = store.homeRow(user);
        if (!row) {
            answer.decider = Decider::UserMissing;
            answer.explanation = "Refused: there is no user " + user + ".";
        } else if (row->disabled && plugin::storedWhole(*row->disabled) == 1) {
            answer.decider = Decider::UserDisabled;
            answer.explanation = "Refused: the account of " + user + " is disabled.";
        } else {
            answer.decider = Decider::NoUsableHome;
            answer.explanation =
                "Refused: the account of " + user + " has no home directory that is a full path.";
        }
        return answer;
    }
    // The FTP server refuses a home directory that is not there.
    const std::string home =
        store.homeRow(user).value_or(plugin::AccountStore::HomeRow{}).homedir.value_or("");
    std::error_code ec;
    if (!std::filesystem::is_directory(home, ec)) {
        answer.decider = Decider::NoUsableHome;
        answer.explanation = "Refused: the home directory " + home + " of " + user +
                             " does not exist, so the FTP server refuses the login.";
        return answer;
    }
    if (!address.empty() && !ask(code::kAddressAllowed, user, address)) {
        answer.decider = Decider::UserAddressList;
        answer.explanation =
            addressRefusal(address, matchingEntry(connectionString, address, &user), &user);
        return answer;
    }
    answer.allowed = true;
    answer.decider = Decider::LoginPassed;
    answer.explanation = "Allowed: " + user + " may log in (given the right password).";
    return answer;
}

AccessAnswer AccessExplainer::Impl::right(const std::string& user, const std::string& path,
                                          char letter, bool directory) {
    AccessAnswer answer;
    answer.letter = letter;
    const std::string right(1, letter);
    plugin::AccessTrace trace;
    answer.allowed = directory ? checks.directoryCheck(user, path, letter, &trace)
                               : checks.fileCheck(user, path, letter, &trace);
    answer.matched = applyingRules(store.directoryRules(user).rows, path, letter, directory);
    const std::string verdict = answer.allowed ? "Allowed: " : "Refused: ";
    const std::string grants = answer.allowed ? " grants " : " does not grant ";
    if (trace.fileRule >= 0) {
        const auto rows = store.fileRules(user).rows;
        answer.decider = Decider::FileRule;
        const plugin::FileRuleRow& row = rows.at(static_cast<std::size_t>(trace.fileRule));
        answer.explanation = verdict + "the file rule for " + row.filename.value_or("") + " (" +
                             row.rights.value_or("") + ")" + grants + right + ".";
        return answer;
    }
    if (trace.directoryRule >= 0) {
        const auto rows = store.directoryRules(user).rows;
        const plugin::DirRuleRow& row = rows.at(static_cast<std::size_t>(trace.directoryRule));
        answer.decider = Decider::DirectoryRule;
        answer.rule = trace.directoryRule;
        answer.ruleShown =
            DirRule{row.directory.value_or(""), row.rights.value_or(""), row.inherit.value_or("")};
        answer.explanation = verdict + "rule " + std::to_string(answer.rule + 1) + " (" +
                             answer.ruleShown.directory + ", " + answer.ruleShown.rights + ", " +
                             inheritWords(answer.ruleShown) + ")" + grants + right + ".";
        return answer;
    }
    const std::string home =
        store.homeRow(user).value_or(plugin::AccountStore::HomeRow{}).homedir.value_or("");
    if (answer.allowed) {
        answer.decider = Decider::HomeDirectory;
        answer.explanation =
            verdict + "the path is within the home directory " + home + " and no rule applies.";
    } else if (!(directory ? plugin::normalizePath(path, plugin::formForLetter(letter))
                           : plugin::fileTarget(path, letter))) {
        answer.decider = Decider::NotFullPath;
        answer.explanation = verdict + "the path " + path +
                             " does not exist or cannot be resolved, so nothing applies to it.";
    } else {
        answer.decider = Decider::NoRule;
        answer.explanation =
            verdict + "the path is outside the home directory " + home + " and no rule applies.";
    }
    return answer;
}

AccessAnswer AccessExplainer::Impl::rights(const std::string& user, CheckAction action,
                                           const std::string& path, const std::string& newPath) {
    std::error_code ec;
    switch (action) {
        case CheckAction::List: {
            if (std::filesystem::is_directory(path, ec)) return right(user, path, 'L', true);
            // Listing a file (or a name that is not there) asks about the
            // directory it is in.
            const std::string parent = parentOf(path);
            AccessAnswer answer = right(user, parent, 'L', true);
            answer.explanation +=
                " (The server asks about " + parent + ", the directory of " + path + ".)";
            return answer;
        }
        case CheckAction::Download:
            return right(user, path, 'R', false);
        case CheckAction::Upload:
            return right(user, path, 'W', false);
        case CheckAction::Append:
            return right(user, path, 'A', false);
        case CheckAction::Delete:
            return right(user, path, 'M', false);
        case CheckAction::Rename:
            return rename(user, path, newPath);
        case CheckAction::Mkdir:
            return right(user, path, 'C', true);
        case CheckAction::Rmdir:
            return right(user, path, 'D', true);
        case CheckAction::Login:
            break;
    }
    return {};
}

AccessAnswer AccessExplainer::Impl::rename(const std::string& user, const std::string& path,
                                           const std::string& newPath) {
    std::error_code ec;
    // A directory is renamed with the rights to remove and to make one, a
    // file with the rights to delete and to write one.
    const bool directory = std::filesystem::is_directory(path, ec);
    AccessAnswer from = right(user, path, directory ? 'D' : 'M', directory);
    if (!from.allowed) return from;
    AccessAnswer to = right(user, newPath, directory ? 'C' : 'W', directory);
    if (!to.allowed) {
        to.explanation += " (That is the new name " + newPath + ".)";
        return to;
    }
    if (std::filesystem::exists(std::filesystem::symlink_status(newPath, ec))) {
        AccessAnswer taken = to;
        taken.allowed = false;
        taken.decider = Decider::DestinationExists;
        taken.rule = -1;
        taken.ruleShown = DirRule{};
        taken.explanation = "Refused: " + newPath +
                            " already exists, and the server never renames onto an existing name.";
        return taken;
    }
    to.explanation = from.explanation + " For the new name " + newPath + ": " + to.explanation;
    return to;
}

std::optional<std::string> questionMistake(CheckAction action, const std::string& path,
                                           const std::string& newPath) {
    if (action == CheckAction::Login) return std::nullopt;
    if (path.empty()) return "Type the path to ask about, a full path starting with /.";
    if (path.front() != '/') return "The path " + path + " is not a full path: start it with /.";
    if (action != CheckAction::Rename) return std::nullopt;
    if (newPath.empty()) return "A rename needs the new name: type it as a full path.";
    if (newPath.front() != '/')
        return "The new name " + newPath + " is not a full path: start it with /.";
    return std::nullopt;
}

AccessAnswer AccessExplainer::explain(const std::string& user, CheckAction action,
                                      const std::string& path, const std::string& address,
                                      const std::string& newPath) {
    AccessAnswer loggedIn = impl_->login(user, address);
    if (!loggedIn.allowed || action == CheckAction::Login) return loggedIn;
    const bool renaming = action == CheckAction::Rename;
    for (const std::string* given : {&path, &newPath}) {
        if (given == &newPath && !renaming) break;
        AccessAnswer answer;
        answer.decider = Decider::NotFullPath;
        const std::string what = given == &path ? "the path" : "the new name";
        if (given->empty() || given->front() != '/') {
            answer.explanation = "Refused: " + what + " must be a full path starting with /.";
            return answer;
        }
        if (presentedPath(*given).size() > kMaxPresentedBytes) {
            answer.explanation = "Refused: " + what + " is longer than the server can ask about.";
            return answer;
        }
    }
    return impl_->rights(user, action, presentedPath(path), presentedPath(newPath));
}

}  // namespace kestrix::users

#include "maintenance/migration/account_plan.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "core/address_pattern.h"
#include "core/schema.h"
#include "core/stored_password.h"

namespace kestrix::migration {
namespace {

constexpr std::string_view kUserPrefix = "USER=";

std::optional<long long> wholeNumber(std::string_view text) {
    long long value = 0;
    const auto end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

std::vector<std::string> splitBars(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find('|', start);
        parts.emplace_back(text.substr(start, bar - start));
        if (bar == std::string_view::npos) return parts;
        start = bar + 1;
    }
}

bool isWindowsPath(std::string_view path) {
    const bool drive =
        path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
    return drive || path.find('\\') != std::string_view::npos;
}

// A rule of the server's own form (an address, or "*" or a range a-b for a
// part) that the blocked list can hold. The server has no CIDR blocks, so a
// "/" in its rule is not one of ours.
bool isCarriedAddressRule(std::string_view text) {
    const auto pattern = AddressPattern::parse(text);
    return pattern && pattern->kind() != AddressPattern::Kind::Block &&
           text.size() <= columnCharacters("blocked_ips_by_user", "ip");
}

// The handled keys of a user section; every other key is reported.
bool isHandledKey(std::string_view key) {
    static constexpr std::string_view kHandled[] = {
        "Password",           "HomeDir",    "RelPaths",     "HideHidden",     "AlwaysAllowLogin",
        "MaxUsersLoginPerIP", "MaxNrUsers", "SpeedLimitUp", "SpeedLimitDown", "TimeOut",
        "SessionTimeOut",     "Enable",     "LoginMesFile", "DiskQuota"};
    for (auto handled : kHandled)
        if (equalsIgnoringCase(key, handled)) return true;
    for (std::string_view prefix : {"Note", "Access", "IPAccess"}) {
        if (!startsWithIgnoringCase(key, prefix)) continue;
        const auto digits = key.substr(prefix.size());
        if (isDigits(digits)) return true;
    }
    return false;
}

// Keys whose values are secrets or server-only: reported by name alone.
bool isReportedByNameOnly(std::string_view key) {
    return equalsIgnoringCase(key, "SKEYValues") || equalsIgnoringCase(key, "PasswordType");
}

bool holdsNul(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

// The section without its values that hold a NUL: SQLite would keep the
// character, PostgreSQL cut the text there.
IniSection withoutNulValues(const IniSection& section, std::vector<std::string>& refusedKeys) {
    IniSection kept{section.name, {}};
    for (const auto& entry : section.entries) {
        if (holdsNul(entry.second))
            refusedKeys.push_back(entry.first);
        else
            kept.entries.push_back(entry);
    }
    return kept;
}

class UserReader {
  public:
    UserReader(const IniSection& section, bool domainForm, MigratedUser& user)
        : s_(withoutNulValues(section, refused_)), domainForm_(domainForm), u_(user) {}

    void read() {
        for (const auto& key : refused_)
            u_.notCarried.push_back(key + " (the value holds a NUL character: refused)");
        readPassword();
        readHome();
        u_.relPath = switchValue("RelPaths");
        u_.hideHiddenFiles = switchValue("HideHidden");
        u_.alwaysLogin = switchValue("AlwaysAllowLogin");
        readEnable();
        if (auto limit = limitValue("MaxNrUsers")) u_.maxConcurrent = *limit;
        if (auto limit = limitValue("MaxUsersLoginPerIP")) u_.maxLoginsPerIp = *limit;
        if (auto seconds = limitValue("TimeOut")) u_.timeoutMinutes = minutes(*seconds);
        if (auto seconds = limitValue("SessionTimeOut"))
            u_.sessionTimeoutMinutes = minutes(*seconds);
        readSpeed();
        if (auto file = s_.value("LoginMesFile"); file && !file->empty())
            u_.loginMessageFile = *file;
        readQuota();
        readNotes();
        readRules();
        readAddressRules();
        noteDroppedAllowRules();
        for (const auto& [key, value] : s_.entries) {
            if (isHandledKey(key)) continue;
            u_.notCarried.push_back(isReportedByNameOnly(key) ? key : key + "=" + value);
        }
    }

  private:
    bool refused(std::string_view key) const {
        return std::any_of(refused_.begin(), refused_.end(),
                           [&](const std::string& k) { return equalsIgnoringCase(k, key); });
    }

    // A value that disables or limits the account and cannot be read: the
    // safer reading wins, the account is disabled until someone looks.
    void disableForUnreadable(std::string_view key, const std::string& shown) {
        u_.disabled = 1;
        u_.warnings.push_back(std::string(key) + shown +
                              " cannot be read: the account is disabled; check the setting, "
                              "then enable it");
    }

    void readEnable() {
        if (refused("Enable")) {
            disableForUnreadable("Enable", " (holds a NUL character)");
            return;
        }
        const auto enable = s_.value("Enable");
        if (!enable) return;
        const auto number = wholeNumber(*enable);
        if (!number)
            disableForUnreadable("Enable", "=" + *enable);
        else if (*number == 0)
            u_.disabled = 1;
    }

    // The server's hash of the file's own form; any other value, even one
    // that looks like the other form's hash, is the password itself.
    void readPassword() {
        if (refused("Password")) {
            u_.warnings.push_back(
                "the password holds a NUL character and was not carried over: the user cannot "
                "log in until given a password");
            return;
        }
        const auto password = s_.value("Password");
        if (!password) {
            u_.warnings.push_back(
                "no password in the file (the server asked for an e-mail address): the user "
                "cannot log in until given a password");
            return;
        }
        if (password->empty())
            u_.warnings.push_back(
                "empty password in the file: the user cannot log in until given a password");
        const std::string asHash = storedFromAccountFile(*password);
        const PasswordForm guessed = storedPasswordForm(asHash);
        const PasswordForm fileForm =
            domainForm_ ? PasswordForm::SaltedMd5 : PasswordForm::DesCrypt;
        if (guessed == PasswordForm::Plain) {
            u_.password = *password;
        } else if (guessed == fileForm) {
            u_.password = asHash;
            u_.passwordHash = guessed == PasswordForm::SaltedMd5 ? "salted MD5" : "DES crypt";
        } else {
            u_.password = *password;
            u_.warnings.push_back(
                std::string("the password looks like a ") +
                (guessed == PasswordForm::SaltedMd5 ? "salted MD5" : "DES crypt") +
                " hash, which this form of the file does not use: kept as the "
                "plain password");
        }
    }

    void readHome() {
        u_.homedir = s_.value("HomeDir").value_or("");
        if (u_.homedir.empty())
            u_.warnings.push_back("no home directory: give the user one");
        else if (isWindowsPath(u_.homedir))
            u_.warnings.push_back("home directory " + u_.homedir +
                                  " is a Windows path, kept as it stands: give the user a home "
                                  "directory on this machine");
    }

    int switchValue(std::string_view key) {
        const auto value = s_.value(key);
        if (!value) return 0;
        const auto number = wholeNumber(*value);
        if (!number) {
            u_.notCarried.push_back(std::string(key) + "=" + *value + " (not a number)");
            return 0;
        }
        return *number != 0 ? 1 : 0;
    }

    // A positive limit; absent, 0 and negative values mean no limit.
    std::optional<long> limitValue(std::string_view key) {
        if (refused(key)) {
            disableForUnreadable(key, " (holds a NUL character)");
            return std::nullopt;
        }
        const auto value = s_.value(key);
        if (!value || value->empty()) return std::nullopt;
        const auto number = wholeNumber(*value);
        if (!number || *number > 2147483647) {
            disableForUnreadable(key, "=" + *value);
            return std::nullopt;
        }
        if (*number <= 0) return std::nullopt;
        return static_cast<long>(*number);
    }

    static long minutes(long seconds) { return (seconds + 59) / 60; }

    void readSpeed() {
        const auto up = limitValue("SpeedLimitUp");
        const auto down = limitValue("SpeedLimitDown");
        if (!up && !down) return;
        const long bytes = up && down ? std::min(*up, *down) : up ? *up : *down;
        const long kbps = std::max(1L, bytes / 1024);
        u_.speedLimitKbps = std::to_string(kbps);
        if (up && down && *up != *down)
            u_.warnings.push_back("different upload and download speed limits: the lower, " +
                                  u_.speedLimitKbps + " KBps, now applies to both");
    }

    void readQuota() {
        if (refused("DiskQuota")) {
            disableForUnreadable("DiskQuota", " (holds a NUL character)");
            return;
        }
        const auto quota = s_.value("DiskQuota");
        if (!quota || quota->empty()) return;
        const auto parts = splitBars(*quota);
        const auto on = parts.size() == 3 ? wholeNumber(parts[0]) : std::nullopt;
        const auto max = parts.size() == 3 ? wholeNumber(parts[1]) : std::nullopt;
        const auto current = parts.size() == 3 ? wholeNumber(parts[2]) : std::nullopt;
        if (!on || !max || !current || *max < 0 || *current < 0) {
            disableForUnreadable("DiskQuota", "=" + *quota);
            return;
        }
        u_.useQuota = *on != 0 ? 1 : 0;
        u_.quotaMax = static_cast<double>(*max);
        u_.quotaCurrent = static_cast<double>(std::min(*current, *max));
        if (*current > *max)
            u_.warnings.push_back("disk quota: " + std::to_string(*current) +
                                  " bytes in use, above the maximum; stored as the maximum, " +
                                  std::to_string(*max) + " bytes");
    }

    void readNotes() {
        std::string notes;
        for (const auto& note : s_.numbered("Note")) {
            std::string_view line = note.value;
            if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
                line = line.substr(1, line.size() - 2);
            if (!notes.empty()) notes += "\r\n";
            notes += line;
        }
        if (!notes.empty()) u_.comments = notes;
    }

    void readRules() {
        std::vector<MigratedRule> rules;
        for (const auto& access : s_.numbered("Access")) {
            const std::size_t bar = access.value.rfind('|');
            const std::string path = access.value.substr(0, bar);
            if (bar == std::string::npos || path.empty() ||
                path.find_first_of("*?") != std::string::npos) {
                u_.notCarried.push_back(access.key + "=" + access.value);
                continue;
            }
            MigratedRule rule{path, "", 0};
            std::string unknown;
            for (char letter : access.value.substr(bar + 1)) {
                const char upper =
                    static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
                if (upper == 'P')
                    rule.inheritSubdirs = 1;
                else if (std::string_view("RWAMELCD").find(upper) != std::string_view::npos &&
                         rule.rights.find(upper) == std::string::npos)
                    rule.rights += letter;
                else
                    unknown += letter;
            }
            if (!unknown.empty())
                u_.notCarried.push_back(access.key + "=" + access.value + " (letters " + unknown +
                                        " dropped)");
            if (isWindowsPath(path))
                u_.warnings.push_back("rule directory " + path +
                                      " is a Windows path, kept as it stands: change it");
            rules.push_back(std::move(rule));
        }
        // The server lets the first matching rule win, the plug-in the last.
        u_.rules.assign(rules.rbegin(), rules.rend());
    }

    void readAddressRules() {
        for (const auto& rule : s_.numbered("IPAccess")) {
            const std::string_view value = rule.value;
            if (value.size() > 2 && (value[0] == 'D' || value[0] == 'd') && value[1] == '|' &&
                isCarriedAddressRule(value.substr(2)))
                u_.blockedIps.emplace_back(value.substr(2));
            else
                u_.notCarried.push_back(rule.key + "=" + rule.value);
        }
    }

    // Once the server has an allow rule, what it does not allow is denied;
    // this system keeps blocked addresses only.
    void noteDroppedAllowRules() {
        std::string allowed;
        for (const auto& rule : s_.numbered("IPAccess")) {
            if (rule.value.size() < 2 || rule.value[1] != '|' ||
                (rule.value[0] != 'A' && rule.value[0] != 'a'))
                continue;
            allowed += (allowed.empty() ? "" : ", ") + rule.value.substr(2);
        }
        if (!allowed.empty())
            u_.warnings.push_back("could log in only from " + allowed +
                                  " on the server; now from anywhere");
    }

    std::vector<std::string> refused_;
    const IniSection s_;
    bool domainForm_;
    MigratedUser& u_;
};

void readDomains(const AccountFile& file, AccountPlan& plan) {
    if (const IniSection* domains = file.section("DOMAINS")) {
        for (const auto& entry : domains->numbered("Domain")) {
            const auto parts = splitBars(entry.value);
            MigratedDomain d;
            d.identity = entry.key;
            d.address = parts.size() > 0 ? parts[0] : "";
            d.second = parts.size() > 1 ? parts[1] : "";
            d.port = parts.size() > 2 ? parts[2] : "";
            d.name = parts.size() > 3 ? parts[3] : "";
            const auto number = parts.size() > 4 ? wholeNumber(parts[4]) : std::nullopt;
            d.number = number ? static_cast<long>(*number) : entry.number;
            for (std::size_t i = 5; i < parts.size(); ++i)
                d.rest += (i > 5 ? "|" : "") + parts[i];
            plan.domains.push_back(std::move(d));
        }
    }
    for (const auto& section : file.sections()) {
        if (!startsWithIgnoringCase(section.name, "Domain")) continue;
        const auto number = wholeNumber(std::string_view(section.name).substr(6));
        if (!number) continue;
        for (const auto& entry : section.numbered("User")) {
            const auto parts = splitBars(entry.value);
            std::string flags;
            for (std::size_t i = 1; i < parts.size(); ++i)
                flags += (i > 1 ? "|" : "") + parts[i];
            plan.members.push_back(
                {section.name, entry.key, parts[0], static_cast<long>(*number), flags});
        }
    }
}

bool isDomainForm(const AccountFile& file) {
    if (file.section("DOMAINS")) return true;
    for (const auto& section : file.sections())
        if (startsWithIgnoringCase(section.name, kUserPrefix) &&
            section.name.find('|') != std::string::npos)
            return true;
    return false;
}

}  // namespace

AccountPlan planMigration(const AccountFile& file) {
    AccountPlan plan;
    plan.encoding = file.encoding();
    plan.byteOrderMark = file.hadByteOrderMark();
    plan.domainForm = isDomainForm(file);
    for (const LineProblem& problem : file.problems()) {
        std::string text =
            "line " + std::to_string(problem.line) + " (" + problem.text + "): " + problem.why;
        if (startsWithIgnoringCase(problem.section, kUserPrefix))
            text += "; user " + problem.section.substr(kUserPrefix.size()) + " is not migrated";
        plan.unreadLines.push_back(std::move(text));
    }
    for (const auto& section : file.sections()) {
        if (!startsWithIgnoringCase(section.name, kUserPrefix) || section.damaged) continue;
        const std::string_view full = std::string_view(section.name).substr(kUserPrefix.size());
        MigratedUser user;
        const std::size_t bar = full.find('|');
        user.name = std::string(full.substr(0, bar));
        if (bar != std::string_view::npos) {
            if (auto number = wholeNumber(full.substr(bar + 1))) user.domainNumber = *number;
        }
        UserReader(section, plan.domainForm, user).read();
        plan.users.push_back(std::move(user));
    }
    readDomains(file, plan);
    return plan;
}

}  // namespace kestrix::migration

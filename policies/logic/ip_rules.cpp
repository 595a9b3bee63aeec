#include "policies/logic/ip_rules.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "core/activity_log.h"
#include "core/address_pattern.h"
#include "core/database.h"
#include "core/list_changes.h"
#include "core/owner_keys.h"
#include "core/schema.h"
#include "core/sql_literal.h"
#include "core/text_routines.h"

namespace kestrix::policies {

std::string ipRulesSelect(const IpRuleScope& scope) {
    if (!scope.user) return "select ip from blocked_ips";
    return "select ip from blocked_ips_by_user where username=" + sqlText(*scope.user);
}

std::string ipRulesDelete(const IpRuleScope& scope) {
    if (!scope.user) return "delete from blocked_ips";
    return "DELETE FROM blocked_ips_by_user WHERE username=" + sqlText(*scope.user);
}

std::string ipRuleInsert(const IpRuleScope& scope, const std::string& line) {
    if (!scope.user) return "insert into blocked_ips (ip) values (" + sqlText(line) + ")";
    return "insert into blocked_ips_by_user (ip, username) values (" + sqlText(line) + ", " +
           sqlText(*scope.user) + ")";
}

std::optional<std::vector<std::string>> readIpRules(const IpRuleScope& scope,
                                                    std::string& failure) {
    const auto rows = readRows(ipRulesSelect(scope), {"ip"}, failure);
    if (!rows) return std::nullopt;
    std::vector<std::string> lines;
    for (const FieldRow& row : *rows)
        lines.push_back(row[0].value_or(""));
    return lines;
}

WriteLock ipRulesLock(const IpRuleScope& scope) {
    return scope.user ? WriteLock::user(*scope.user) : WriteLock::table("blocked_ips");
}

UserParts ipRulesParts() {
    return UserParts{{}, false, true};
}

namespace {

std::vector<std::string> rewriteStatements(const IpRuleScope& scope,
                                           const std::vector<std::string>& lines,
                                           std::vector<TextColumn>& texts) {
    std::vector<std::string> statements{ipRulesDelete(scope)};
    const char* table = scope.user ? "blocked_ips_by_user" : "blocked_ips";
    for (const std::string& line : lines) {
        statements.push_back(ipRuleInsert(scope, line));
        texts.push_back({"IP address", table, "ip", line});
    }
    return statements;
}

}  // namespace

WriteOutcome writeIpRules(const IpRuleScope& scope, const std::vector<std::string>& lines,
                          std::string& failure, const std::optional<std::string>& loaded) {
    const WriteGuard guard{ipRulesLock(scope), scope.user.value_or(""), ipRulesParts(),
                           scope.user ? loaded : std::nullopt};
    std::vector<TextColumn> texts;
    return writeAll(rewriteStatements(scope, lines, texts), failure, texts, guard, !scope.user);
}
WriteOutcome changeIpRules(const IpRuleScope& scope,
                           const std::function<bool(std::vector<std::string>&)>& change,
                           std::string& failure) {
    Database db;
    if (!openDatabase(db, 0)) return WriteOutcome::Unavailable;
    auto refused = [&] {
        failure = db.lastError();
        writeLog("the database said: " + failure);
        db.rollback();
        return WriteOutcome::Refused;
    };
    if (!beginLocked(db, ipRulesLock(scope))) {
        failure = lockFailure(db);
        writeLog("the database said: " + failure);
        return WriteOutcome::Refused;
    }
    std::vector<std::string> lines;
    if (!db.readColumn(ipRulesSelect(scope), {},
                       [&](Database::ValueView ip) { lines.emplace_back(ip.value_or("")); }))
        return refused();
    if (!change(lines)) {
        db.rollback();
        return WriteOutcome::Declined;
    }
    std::vector<TextColumn> texts;
    for (const std::string& statement : rewriteStatements(scope, lines, texts)) {
        if (!db.execute(statement)) return refused();
    }
    if (!scope.user && !announceListChange(db)) return refused();
    if (!db.commit()) return refused();
    return WriteOutcome::Written;
}

void applyListChange(const std::vector<std::string>& loaded, const std::vector<std::string>& mine,
                     std::vector<std::string>& stored) {
    // An entry may stand in a list more than once: counts, not sets.
    std::map<std::string, int> change;
    for (const std::string& line : mine)
        ++change[line];
    for (const std::string& line : loaded)
        --change[line];
    for (auto& [line, count] : change) {
        for (; count < 0; ++count) {
            const auto last = std::find(stored.rbegin(), stored.rend(), line);
            if (last == stored.rend()) break;  // removed by the other too
            stored.erase(std::next(last).base());
        }
    }
    for (const std::string& line : mine) {
        int& count = change[line];
        if (count <= 0) continue;
        stored.push_back(line);
        --count;
    }
}

AddressCheck checkAddress(std::string_view text) {
    if (text.empty()) return {true, false};
    const std::string quoted = "\"" + std::string(text) + "\"";
    if (countChar(text, '.') != 3) {
        return {false, true,
                quoted +
                    " is not an IP address: an entry is four parts separated by three dots, "
                    "such as 192.168.0.1, 192.168.*.* or 10.0.0.0/8."};
    }
    if (!isAddressEntry(text)) {
        return {false, false,
                quoted +
                    " is not an IP address: each of its four parts must be a number from 0 "
                    "to 255, \"*\" or a range such as 10-20, and a block ends in /0 to "
                    "/32."};
    }
    if (text.size() > addressRuleCharacters()) {
        return {false, false,
                quoted + " is longer than the " + std::to_string(addressRuleCharacters()) +
                    " characters an entry of the list may have."};
    }
    return {true, true};
}

std::optional<std::string> sameEntryIn(const std::vector<std::string>& lines,
                                       std::string_view text) {
    const auto entry = AddressPattern::parse(text);
    if (!entry) return std::nullopt;
    for (const std::string& line : lines) {
        const auto other = AddressPattern::parse(line);
        if (other ? other->sameAddressesAs(*entry) : line == text) return line;
    }
    return std::nullopt;
}

Message duplicateEntryMessage(std::string_view text, const std::string& existing) {
    const std::string quoted = "\"" + std::string(text) + "\"";
    return titledMessage(text == existing ? quoted + " is already in the list."
                                          : quoted + " is already in the list as \"" + existing +
                                                "\": both match the same addresses.",
                         MessageIcon::Exclamation, MessageButtons::OK);
}

std::optional<Message> everyAddressQuestion(const IpRuleScope& scope, std::string_view text) {
    const auto entry = AddressPattern::parse(text);
    if (!entry || !entry->matchesEveryAddress()) return std::nullopt;
    const std::string quoted = "\"" + std::string(text) + "\"";
    const std::string effect =
        scope.user ? "user \"" + *scope.user + "\" would be refused from every address."
                   : "every client would be locked out of the FTP server, whoever logs in.";
    return titledMessage(
        quoted + " matches every address: " + effect + "\r\n\r\nAdd it to the list anyway?",
        MessageIcon::Exclamation, MessageButtons::YesNo, 2);
}

std::size_t addressRuleCharacters() {
    return std::min(columnCharacters("blocked_ips", "ip"),
                    columnCharacters("blocked_ips_by_user", "ip"));
}

namespace {

// The entries of `from` that `other` lacks, each as often as it lacks it.
std::vector<std::string> missingFrom(std::vector<std::string> from,
                                     std::vector<std::string> other) {
    std::vector<std::string> missing;
    for (const std::string& entry : from) {
        const auto found = std::find(other.begin(), other.end(), entry);
        if (found == other.end())
            missing.push_back(entry);
        else
            other.erase(found);
    }
    return missing;
}

std::string joined(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries)
        text += (text.empty() ? "" : ", ") + entry;
    return text;
}

}  // namespace

std::string describeListChange(const std::vector<std::string>& before,
                               const std::vector<std::string>& after) {
    const auto added = missingFrom(after, before);
    const auto removed = missingFrom(before, after);
    std::string line;
    if (!added.empty()) line = "added " + joined(added);
    if (!removed.empty()) line += (line.empty() ? "removed " : "; removed ") + joined(removed);
    if (line.empty()) line = before == after ? "nothing changed" : "order changed";
    return line;
}

}  // namespace kestrix::policies

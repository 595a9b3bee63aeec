// user block list|add|remove and ip list|add|remove: the per-user IP
// blocking dialog and the server-wide IP list.
#include <algorithm>
#include <functional>
#include <iostream>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/loaded_user.h"
#include "core/address_pattern.h"
#include "policies/logic/ip_rules.h"
#include "users/editing/statement_run.h"

namespace kestrix::cli {

namespace {

using policies::IpRuleScope;

std::optional<std::vector<std::string>> readList(const IpRuleScope& scope) {
    std::string failure;
    auto lines = policies::readIpRules(scope, failure);
    if (!lines && !failure.empty()) refuse(terminalText(failure));
    return lines;
}

// A user's list belongs to a stored user: rows for nobody would only wait
// for whoever gets the name next.
bool userStored(const Invocation& in, const IpRuleScope& scope) {
    if (!scope.user) return true;
    CliPrompts prompts(in.yes());
    const auto exists = users::userNameInUse(*scope.user, prompts);
    if (exists && !*exists) refuse("There is no user " + *scope.user + ".");
    return exists && *exists;
}

// Rows stored before entries were checked, which the plug-in never
// matches, are listed as they are and named on standard error.
void warnAboutRowsThatBlockNobody(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (!isAddressEntry(line))
            std::cerr << "Warning: \"" << terminalText(line)
                      << "\" is not an address, pattern or block: it blocks nobody.\n";
}

int list(const Invocation& in, const IpRuleScope& scope) {
    if (!userStored(in, scope)) return kExitRefused;
    const auto lines = readList(scope);
    if (!lines) return kExitRefused;
    warnAboutRowsThatBlockNobody(*lines);
    if (in.json()) {
        std::vector<std::string> quoted;
        for (const std::string& line : *lines)
            quoted.push_back(jsonString(line));
        std::cout << jsonArray(quoted) << '\n';
    } else {
        for (const std::string& line : *lines)
            std::cout << line << '\n';
    }
    return kExitDone;
}

// Reads and rewrites the list under its lock, so that two commands at once
// each see the other's entry.
int change(const IpRuleScope& scope, const std::function<bool(std::vector<std::string>&)>& edit) {
    std::string failure;
    switch (policies::changeIpRules(scope, edit, failure)) {
        case policies::WriteOutcome::Written:
            return kExitDone;
        case policies::WriteOutcome::Refused:
            return refuse(terminalText(failure));
        case policies::WriteOutcome::Declined:
        case policies::WriteOutcome::Changed:
        case policies::WriteOutcome::Unavailable:
            break;
    }
    return kExitRefused;
}

int add(const Invocation& in, const IpRuleScope& scope, const std::string& address) {
    // What the plug-in can match, and what the column holds.
    if (!isAddressEntry(address))
        return refuse("\"" + terminalText(address) +
                      "\" is not an address rule: give an address (10.0.0.7), a pattern with * "
                      "or a range for a part (10.0.*.1-20), or a block (10.0.0.0/24); each "
                      "number 0 to 255.");
    if (address.size() > policies::addressRuleCharacters())
        return refuse("\"" + address + "\" is longer than the " +
                      std::to_string(policies::addressRuleCharacters()) +
                      " characters an address rule can hold.");
    if (!userStored(in, scope)) return kExitRefused;
    return change(scope, [&](std::vector<std::string>& lines) {
        if (std::find(lines.begin(), lines.end(), address) != lines.end()) {
            refuse(address + " is already in the list.");
            return false;
        }
        lines.push_back(address);
        return true;
    });
}

int remove(const Invocation& in, const IpRuleScope& scope, const std::string& address) {
    if (!userStored(in, scope)) return kExitRefused;
    return change(scope, [&](std::vector<std::string>& lines) {
        const auto end = std::remove(lines.begin(), lines.end(), address);
        if (end == lines.end()) {
            refuse(address + " is not in the list.");
            return false;
        }
        lines.erase(end, lines.end());
        return true;
    });
}

}  // namespace

int blockList(const Invocation& in) {
    return list(in, IpRuleScope{in.operands[0]});
}

int blockAdd(const Invocation& in) {
    return add(in, IpRuleScope{in.operands[0]}, in.operands[1]);
}

int blockRemove(const Invocation& in) {
    return remove(in, IpRuleScope{in.operands[0]}, in.operands[1]);
}

int ipList(const Invocation& in) {
    return list(in, IpRuleScope{});
}

int ipAdd(const Invocation& in) {
    return add(in, IpRuleScope{}, in.operands[0]);
}

int ipRemove(const Invocation& in) {
    return remove(in, IpRuleScope{}, in.operands[0]);
}

}  // namespace kestrix::cli

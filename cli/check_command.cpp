// check: the plug-in's answer to one question, and why; apply-dates: the
// daily account rules.
#include <arpa/inet.h>

#include <iostream>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/loaded_user.h"
#include "core/account_dates.h"
#include "core/database.h"
#include "core/settings.h"
#include "users/access/access_explainer.h"

namespace kestrix::cli {

namespace {

// An address as a client connects from: IPv4, or IPv6 (such as ::ffff:10.0.0.1).
bool isIpAddress(const std::string& text) {
    in6_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1 ||
           ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

}  // namespace

int applyDates(const Invocation& /*in*/) {
    switch (applyAccountDates()) {
        case AccountDatesRun::Done:
            return kExitDone;
        case AccountDatesRun::TablesFailed:
            return refuse(terminalText(kAccountTablesMessage));
        case AccountDatesRun::Busy:
            return refuse(kDatabaseBusyMessage);
        case AccountDatesRun::DatabaseUnavailable:
            break;
    }
    return kExitRefused;
}

int check(const Invocation& in) {
    const std::string& user = in.operands[0];
    const auto action = users::parseCheckAction(in.operands[1]);
    if (!action) {
        std::cerr << "Unknown action " << in.operands[1] << "; one of:";
        for (std::string_view name : users::checkActionNames())
            std::cerr << ' ' << name;
        std::cerr << ".\n";
        return kExitUsage;
    }
    const std::string path = in.operands.size() > 2 ? in.operands[2] : std::string();
    if (*action != users::CheckAction::Login && path.empty()) {
        std::cerr << "check " << in.operands[1] << " needs a PATH.\n";
        return kExitUsage;
    }
    const bool renaming = *action == users::CheckAction::Rename;
    const std::string newPath = in.operands.size() > 3 ? in.operands[3] : std::string();
    if (renaming && newPath.empty()) {
        std::cerr << "check rename needs a PATH and a NEWPATH.\n";
        return kExitUsage;
    }
    if (!renaming && in.operands.size() > 3) {
        std::cerr << "Only check rename takes a NEWPATH.\n";
        return kExitUsage;
    }
    if ((!path.empty() && !path.starts_with('/')) || (renaming && !newPath.starts_with('/'))) {
        std::cerr << "check takes full paths, starting with /.\n";
        return kExitUsage;
    }
    const std::string from = in.value("--from").value_or("");
    if (!from.empty() && !isIpAddress(from)) {
        std::cerr << "--from takes an IP address, not " << from << ".\n";
        return kExitUsage;
    }
    const std::string connection = readConnectionString();
    if (connection.empty()) return refuse("No connection string is stored (kestrix config set).");
    users::AccessExplainer explainer(connection);
    const users::AccessAnswer answer = explainer.explain(user, *action, path, from, newPath);
    if (answer.decider == users::Decider::DatabaseUnavailable) return refuse(answer.explanation);
    if (in.json()) {
        JsonObject json;
        json.flag("allowed", answer.allowed)
            .text("action", users::checkActionName(*action))
            .text("right", answer.letter ? std::string(1, answer.letter) : std::string())
            .text("decided_by", users::deciderName(answer.decider));
        if (answer.rule >= 0) {
            json.add("rule", JsonObject()
                                 .add("place", std::to_string(answer.rule + 1))
                                 .text("directory", answer.ruleShown.directory)
                                 .text("rights", answer.ruleShown.rights)
                                 .flag("inherit", decodeInherit(answer.ruleShown.inherit))
                                 .str());
        } else {
            json.add("rule", "null");
        }
        json.text("explanation", answer.explanation);
        std::cout << json.str() << '\n';
    } else {
        std::cout << (answer.allowed ? "allowed" : "refused") << '\n' << answer.explanation << '\n';
    }
    return answer.allowed ? kExitDone : kExitAccessRefused;
}

}  // namespace kestrix::cli

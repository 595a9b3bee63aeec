// user rule list|add|edit|remove|move: the rule list of the main window
// and its add/edit dialog, then Save.
#include <charconv>
#include <functional>
#include <iostream>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/loaded_user.h"
#include "users/editing/directory_entry.h"
#include "users/editing/rule_list.h"
#include "users/editing/rule_rights_text.h"

namespace kestrix::cli {

namespace {

// Rights as letters of RWAMELCD, any case; none other.
std::optional<Rights> rightsOf(const std::string& letters) {
    for (char c : letters) {
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (kRightsLetters.find(upper) == std::string_view::npos) return std::nullopt;
    }
    return decodeRights(letters);
}

users::RuleList ruleListOf(const LoadedUser& user) {
    users::RuleList rules;
    for (const DirRule& rule : user.rules)
        rules.load(rule);
    return rules;
}

// The rule at a place as listed (1-based); refuses another text.
std::optional<int> placeOf(const std::string& text, const users::RuleList& rules) {
    int place = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), place);
    if (parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() || place < 1 ||
        place > static_cast<int>(rules.rules().size())) {
        refuse("There is no rule " + text + ": the rules are numbered 1 to " +
               std::to_string(rules.rules().size()) + " (kestrix user rule list).");
        return std::nullopt;
    }
    return place - 1;
}

// The rights and inheritance flags onto the selected rule.
bool applyRightsFlags(const Invocation& in, users::RuleList& rules) {
    const auto shown = rules.shownForSelection();
    Rights rights = shown->rights;
    bool inherit = shown->inherit;
    if (const auto letters = in.value("--rights")) {
        const auto parsed = rightsOf(*letters);
        if (!parsed) {
            refuse("Rights are letters of " + std::string(kRightsLetters) + ", not " + *letters +
                   ".");
            return false;
        }
        rights = *parsed;
    }
    if (in.switches.contains("--inherit")) inherit = true;
    if (in.switches.contains("--no-inherit")) inherit = false;
    return rules.setSelectedRights(rights, inherit);
}

// An edit of the loaded rules: no value to save them, or the exit status
// of a refusal.
using RuleEdit = std::function<std::optional<int>(LoadedUser&, users::RuleList&, CliPrompts&)>;

// How often a command reads the user again after others changed it in
// between; each turn one of the writers gets through.
constexpr int kRuleAttempts = 200;

// Loads the user, edits its rules and saves them. Save writes only while
// the user is as loaded; when another command came first, the user is read
// again and the edit made again, so no command loses another's work.
int editRules(const Invocation& in, const RuleEdit& edit) {
    CliPrompts prompts(in.yes());
    for (int attempt = 1;; ++attempt) {
        auto user = loadUser(in.operands[0]);
        if (!user) return kExitRefused;
        users::RuleList rules = ruleListOf(*user);
        if (const auto stopped = edit(*user, rules, prompts)) return *stopped;
        user->rules = rules.rules();
        const auto onChange =
            attempt < kRuleAttempts ? users::OnChange::Quiet : users::OnChange::Tell;
        const auto outcome = saveStoredUser(*user, user->username, std::nullopt, prompts, onChange);
        if (outcome != users::SaveOutcome::Changed || onChange == users::OnChange::Tell)
            return statusOf(outcome == users::SaveOutcome::Written, prompts);
    }
}

// The same for the rule at PLACE, the second operand, selected.
int editChosenRule(const Invocation& in, const RuleEdit& edit) {
    return editRules(
        in,
        [&](LoadedUser& user, users::RuleList& rules, CliPrompts& prompts) -> std::optional<int> {
            const auto place = placeOf(in.operands[1], rules);
            if (!place) return kExitRefused;
            rules.select(*place);
            return edit(user, rules, prompts);
        });
}

}  // namespace

int ruleList(const Invocation& in) {
    const auto user = loadUser(in.operands[0]);
    if (!user) return kExitRefused;
    std::vector<std::string> json;
    for (std::size_t i = 0; i < user->rules.size(); ++i) {
        const DirRule& rule = user->rules[i];
        const users::RuleRightsText rights = users::ruleRightsText(rule);
        const bool inherit = rights.inherited;
        if (in.json()) {
            json.push_back(JsonObject()
                               .add("place", std::to_string(i + 1))
                               .text("directory", rule.directory)
                               .text("rights", rights.letters)
                               .flag("inherit", inherit)
                               .str());
        } else {
            std::cout << i + 1 << '\t' << rule.directory << '\t' << rights.letters << '\t'
                      << rights.inheritWord() << '\n';
        }
    }
    if (in.json()) std::cout << jsonArray(json) << '\n';
    return kExitDone;
}

int ruleAdd(const Invocation& in) {
    CliPrompts prompts(in.yes());
    const users::DirectoryEntryResult entry =
        users::acceptDirectoryEntry(in.operands[1], "", prompts);
    if (!entry.path) return kExitRefused;
    return editRules(in,
                     [&](LoadedUser&, users::RuleList& rules, CliPrompts&) -> std::optional<int> {
                         rules.add(*entry.path);
                         rules.select(static_cast<int>(rules.rules().size()) - 1);
                         if (!applyRightsFlags(in, rules)) return kExitRefused;
                         return std::nullopt;
                     });
}

int ruleEdit(const Invocation& in) {
    return editChosenRule(
        in, [&](LoadedUser&, users::RuleList& rules, CliPrompts& prompts) -> std::optional<int> {
            if (const auto directory = in.value("--dir")) {
                const users::DirectoryEntryResult entry =
                    users::acceptDirectoryEntry(*directory, *rules.selectedText(), prompts);
                if (!entry.path) return kExitRefused;
                rules.renameSelected(*entry.path);
            }
            if (!applyRightsFlags(in, rules)) return kExitRefused;
            return std::nullopt;
        });
}

int ruleRemove(const Invocation& in) {
    return editChosenRule(
        in, [](LoadedUser&, users::RuleList& rules, CliPrompts&) -> std::optional<int> {
            rules.removeSelected();
            return std::nullopt;
        });
}

int ruleMove(const Invocation& in) {
    const std::string& direction = in.operands[2];
    if (direction != "up" && direction != "down") {
        std::cerr << "A rule moves up or down.\n";
        return kExitUsage;
    }
    return editChosenRule(
        in, [&](LoadedUser&, users::RuleList& rules, CliPrompts&) -> std::optional<int> {
            const bool moved = direction == "up" ? rules.moveUp() : rules.moveDown();
            if (!moved) return refuse("Rule " + in.operands[1] + " cannot move " + direction + ".");
            return std::nullopt;
        });
}

}  // namespace kestrix::cli

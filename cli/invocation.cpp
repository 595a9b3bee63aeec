#include "cli/invocation.h"

namespace kestrix::cli {

std::optional<std::string> Invocation::value(const std::string& flag) const {
    const auto found = values.find(flag);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

std::optional<Invocation> parseInvocation(
    const std::vector<std::string>& words, const std::set<std::string>& valueFlags,
    const std::set<std::string>& switches, std::size_t minOperands, std::size_t maxOperands,
    std::string& error, const std::vector<std::pair<std::string, std::string>>& exclusive) {
    Invocation invocation;
    bool flagsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (flagsEnded || !word.starts_with("--")) {
            invocation.operands.push_back(word);
            continue;
        }
        if (word == "--") {
            flagsEnded = true;
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string flag = word.substr(0, equals);
        if (switches.contains(flag)) {
            // "--yes=no" is never read as --yes.
            if (equals != std::string::npos) {
                error = "The switch " + flag + " takes no value.";
                return std::nullopt;
            }
            invocation.switches.insert(flag);
        } else if (valueFlags.contains(flag)) {
            const bool nextIsFlag =
                i + 1 < words.size() &&
                (words[i + 1] == "--" || valueFlags.contains(words[i + 1]) ||
                 switches.contains(words[i + 1].substr(0, words[i + 1].find('='))));
            if (equals != std::string::npos) {
                invocation.values[flag] = word.substr(equals + 1);
            } else if (i + 1 < words.size() && !nextIsFlag) {
                // A value that looks like a flag is given as --flag=VALUE.
                invocation.values[flag] = words[++i];
            } else {
                error = "The flag " + flag + " needs a value.";
                return std::nullopt;
            }
        } else {
            error = "Unknown flag " + flag + ".";
            return std::nullopt;
        }
    }
    for (const auto& [a, b] : exclusive) {
        if (invocation.has(a) && invocation.has(b)) {
            error = "Give " + a + " or " + b + ", not both.";
            return std::nullopt;
        }
    }
    if (invocation.operands.size() < minOperands) {
        error = "Too few arguments.";
        return std::nullopt;
    }
    if (invocation.operands.size() > maxOperands) {
        error = "Unexpected argument " + invocation.operands[maxOperands] + ".";
        return std::nullopt;
    }
    return invocation;
}

}  // namespace kestrix::cli

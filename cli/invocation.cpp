#include "cli/invocation.h"

namespace kestrix::cli {

std::optional<std::string> Invocation::value(const std::string& flag) const {
    const auto found = values.find(flag);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

std::optional<Invocation> parseInvocation(const std::vector<std::string>& words,
                                          const std::set<std::string>& valueFlags,
                                          const std::set<std::string>& switches,
                                          std::size_t minOperands, std::size_t maxOperands,
                                          std::string& error) {
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
        if (switches.contains(flag) && equals == std::string::npos) {
            invocation.switches.insert(flag);
        } else if (valueFlags.contains(flag)) {
            if (equals != std::string::npos) {
                invocation.values[flag] = word.substr(equals + 1);
            } else if (i + 1 < words.size()) {
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

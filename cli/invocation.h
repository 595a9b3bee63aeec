#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kestrix::cli {

// Exit statuses: scripts tell a refusal of `check` from an error.
inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitAccessRefused = 3;

// One command line after its command words: the remaining words, the
// values of the flags that take one, and the switches given.
struct Invocation {
    std::vector<std::string> operands;
    std::map<std::string, std::string> values;
    std::set<std::string> switches;

    bool has(const std::string& flag) const {
        return values.contains(flag) || switches.contains(flag);
    }
    std::optional<std::string> value(const std::string& flag) const;
    bool yes() const { return switches.contains("--yes"); }
    bool json() const { return switches.contains("--json"); }
};

// Reads the words after the command words. A flag takes its value from the
// next word (unless that is another flag) or after '='; "--" ends the
// flags. An unknown flag, a missing value, a switch given a value, two
// flags that exclude each other or a wrong number of operands is a usage
// error (message set).
std::optional<Invocation> parseInvocation(
    const std::vector<std::string>& words, const std::set<std::string>& valueFlags,
    const std::set<std::string>& switches, std::size_t minOperands, std::size_t maxOperands,
    std::string& error, const std::vector<std::pair<std::string, std::string>>& exclusive = {});

}  // namespace kestrix::cli

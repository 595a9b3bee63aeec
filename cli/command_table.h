#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/invocation.h"

namespace kestrix::cli {

// One option of a command: a switch when it takes no value.
struct OptionEntry {
    std::string name;   // "--home"
    std::string value;  // "DIR"; empty for a switch
    std::string help;
    bool required = false;  // a value option the command cannot do without
    bool isSwitch() const { return value.empty(); }
};

// One command: the words that name it, its operands and options, the text
// of its help and manual entry, and the code that runs it. Usage, --help,
// the manual page and the shell completions are all made from this table.
struct CommandEntry {
    std::vector<std::string> words;
    std::string operands;  // as the synopsis shows them: "NAME PLACE up|down"
    std::size_t minOperands = 0;
    std::size_t maxOperands = 0;
    std::vector<OptionEntry> options;
    // Options that contradict each other: given together, a usage error.
    std::vector<std::pair<std::string, std::string>> exclusive;
    std::string section;  // the manual's heading it comes under
    std::string summary;
    int (*run)(const Invocation&) = nullptr;
};

const std::vector<CommandEntry>& commandTable();
// The options every command takes besides its own.
const std::vector<OptionEntry>& commonOptions();

// The command named by the leading words (the longest that matches), or null.
const CommandEntry* findCommand(const std::vector<std::string>& words);

// "kestrix user add NAME [--password-stdin|--password TEXT] ..." on one line.
std::string synopsisOf(const CommandEntry& command);
std::string commandName(const CommandEntry& command);  // "user add"

std::string versionText();
void printUsage(std::ostream& out);
// The usage of the commands that begin with the words ("user rule"); false
// when none does.
bool printGroupUsage(std::ostream& out, const std::vector<std::string>& leading);
void printCommandHelp(std::ostream& out, const CommandEntry& command);

// The manual page: the template with @SYNOPSIS@ and @COMMANDS@ replaced.
std::string manPage(std::string_view pageTemplate, std::string_view version);
std::string bashCompletion();
std::string zshCompletion();
std::string fishCompletion();

}  // namespace kestrix::cli

// kestrix: the jobs of Tavix's main window and per-user dialogs from a
// shell, and the plug-in's answer to "may this user do that here?".
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_prompts.h"
#include "cli/command_record.h"
#include "cli/command_table.h"
#include "core/activity_log.h"
#include "core/core_dumps.h"
#include "core/database.h"
#include "core/password_storage.h"
#include "core/short_date.h"

namespace {

using namespace kestrix::cli;

// Everything written must have reached standard output: a full disk or a
// closed pipe is a failure, not a success.
int finished(int status) {
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "kestrix: the output could not be written.\n";
        return status == kExitDone || status == kExitAccessRefused ? kExitRefused : status;
    }
    return status;
}

bool asksForHelp(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word == "--") return false;
        if (word == "--help") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // It holds the database's password, and passwords typed for accounts.
    kestrix::keepOutOfCoreDumps();
    kestrix::takeLocaleFromEnvironment();
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        printUsage(std::cerr);
        return kExitUsage;
    }
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        printUsage(std::cout);
        return finished(kExitDone);
    }
    if (words[0] == "--version") {
        std::cout << versionText();
        return finished(kExitDone);
    }
    const CommandEntry* chosen = findCommand(words);
    if (!chosen && words.size() >= 2 && words.back() == "--help" &&
        printGroupUsage(std::cout, std::vector<std::string>(words.begin(), words.end() - 1)))
        return finished(kExitDone);
    if (!chosen) {
        std::cerr << "Unknown command.\n\n";
        printUsage(std::cerr);
        return kExitUsage;
    }
    const std::vector<std::string> rest(words.begin() + static_cast<long>(chosen->words.size()),
                                        words.end());
    if (asksForHelp(rest)) {
        printCommandHelp(std::cout, *chosen);
        return finished(kExitDone);
    }
    std::set<std::string> valueFlags;
    std::set<std::string> switches;
    for (const OptionEntry& option : chosen->options)
        (option.isSwitch() ? switches : valueFlags).insert(option.name);
    for (const OptionEntry& option : commonOptions())
        switches.insert(option.name);
    std::string error;
    auto invocation = parseInvocation(rest, valueFlags, switches, chosen->minOperands,
                                      chosen->maxOperands, error, chosen->exclusive);
    for (const OptionEntry& option : chosen->options) {
        if (invocation && option.required && !invocation->has(option.name)) {
            error = "The option " + option.name + " is needed.";
            invocation.reset();
        }
    }
    if (!invocation) {
        std::cerr << error << "\nUsage: " << synopsisOf(*chosen) << '\n';
        return kExitUsage;
    }
    if (invocation->switches.contains("--log")) {
        kestrix::programLog().attach(
            [](const std::string& line) { std::cerr << terminalText(line); });
    }
    // Once per run, on standard error whatever --log says.
    kestrix::setClearTextNoticeHandler(
        [](const std::string& notice) { std::cerr << notice << '\n'; });
    CliOpenFailure openFailure;
    kestrix::setOpenFailureHandler(&openFailure);
    const int status = runRecorded(chosen->words, *invocation, chosen->run);
    kestrix::setOpenFailureHandler(nullptr);
    return finished(status);
}

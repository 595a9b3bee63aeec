#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/cli_prompts.h"
#include "core/rights.h"
#include "users/editing/user_save.h"

namespace kestrix::cli {

// One user as the main window loads it.
struct LoadedUser {
    std::string username;
    std::string homedir;
    std::string comments;
    std::vector<DirRule> rules;
    std::string expiryLine;
    std::string disableLine;
    // The record and rules as loaded, which Save compares before writing.
    std::optional<std::string> version;
};

// Loads the user; no value (and the reason on standard error) when there is
// no such user or the database could not be read.
std::optional<LoadedUser> loadUser(const std::string& name);

// Save of the main window for a stored user as loaded, with the changes
// made to it; the password stays unless one is given.
users::SaveOutcome saveStoredUser(const LoadedUser& user, const std::string& name,
                                  const std::optional<std::string>& password, CliPrompts& prompts,
                                  users::OnChange onChange = users::OnChange::Tell);

// Prints the text on standard error; the refused exit status.
int refuse(const std::string& text);
// The exit status of a command whose prompts may have refused.
int statusOf(bool done, const CliPrompts& prompts);

// Set once the database could not be opened (and that was reported).
bool databaseUnavailable();
void noteDatabaseUnavailable();

}  // namespace kestrix::cli

#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/rights.h"
#include "users/editing/edit_mode.h"
#include "users/editing/prompts.h"
#include "users/editing/statement_run.h"
#include "users/editing_state.h"

namespace kestrix::users {

// The main window's boxes as Save reads them.
struct SaveForm {
    std::string username;
    std::string homeDir;
    std::string password;
    std::string notes;
    // The second entry of a new password (the window's); none: the caller
    // has no second box (the command line asks twice itself).
    std::optional<std::string> passwordConfirm = std::nullopt;
};

// What Save does when the stored user was changed by someone else since
// it was loaded.
enum class OnChange {
    Ask,    // Reload, Keep both, Overwrite or Cancel (the window)
    Tell,   // say so and write nothing
    Quiet,  // write nothing and say nothing: the caller reads again and retries
};

// What Save writes besides the boxes: every rule carries its own rights,
// which the rule boxes write into it as they change.
struct SaveContext {
    std::string selectedUser;
    EditMode editMode = EditMode::Stored;
    std::vector<DirRule> ruleSet;
    // The stored user's version as loaded (savedParts); none: not compared.
    std::optional<std::string> loadedVersion = std::nullopt;
    OnChange onChange = OnChange::Ask;
    // The record and rules as loaded (recordFields), for Keep both; or,
    // read only when needed, the window's own.
    FieldValues loadedFields = {};
    const EditingState::Loaded* loaded = nullptr;
};

// The boxes once they passed every check.
struct CheckedUser {
    std::string username;
    std::string homeDir;
    std::string password;
    bool passwordChanged = false;
    std::optional<std::string> notes;  // none: stored as NULL
};

// The checks of Save in their order; each refusal or declined question is
// shown through the prompts and gives no value.
std::optional<CheckedUser> checkForSave(const SaveForm& form, UserPrompts& prompts);

// The statements of the edit mode, with their log lines, in order.
std::vector<WriteStep> saveSteps(const CheckedUser& user, const SaveContext& context);

// An inherit text as the bare number it is written as: its integer when it
// holds one, otherwise 0 (not inherited), so no other text reaches the SQL.
std::string inheritNumber(const std::string& inheritText);

enum class SaveOutcome {
    Stopped,              // a check refused, or a question was declined
    DatabaseUnavailable,  // the opening routine has spoken
    Failed,               // the database refused; nothing was written
    Vanished,             // the stored user is no longer there; nothing was written
    Changed,              // changed by someone else; nothing was written
    Reload,               // changed by someone else, and Reload was chosen
    Written,
};

// Save from the first log line to the closed connection. On Written the
// caller returns the edit mode to 0 and refills the user list; on Vanished
// it refills the list too.
SaveOutcome saveUser(const SaveForm& form, const SaveContext& context, UserPrompts& prompts);

// The statements and the guard of a Save in one transaction on an open
// connection, with further statements of the same user after them (the
// command line's settings), so that they are written together or not at all.
std::optional<WriteFailure> runSave(Database& db, const CheckedUser& user,
                                    const SaveContext& context,
                                    const std::vector<WriteStep>& more = {});

}  // namespace kestrix::users

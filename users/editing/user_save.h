#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/rights.h"
#include "users/editing/edit_mode.h"
#include "users/editing/prompts.h"
#include "users/editing/statement_run.h"

namespace kestrix::users {

// The main window's boxes as Save reads them.
struct SaveForm {
    std::string username;
    std::string homeDir;
    std::string password;
    std::string notes;
};

// What Save writes besides the boxes: every rule carries its own rights,
// which the rule boxes write into it as they change.
struct SaveContext {
    std::string selectedUser;
    EditMode editMode = EditMode::Stored;
    std::vector<DirRule> ruleSet;
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
    Written,
};

// Save from the first log line to the closed connection. On Written the
// caller returns the edit mode to 0 and refills the user list; on Vanished
// it refills the list too.
SaveOutcome saveUser(const SaveForm& form, const SaveContext& context, UserPrompts& prompts);

}  // namespace kestrix::users

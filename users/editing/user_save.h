#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/rights.h"
#include "users/editing/prompts.h"
#include "users/editing/statement_run.h"

namespace kestrix::users {

inline constexpr const char* kPasswordPlaceholder = "[Click Here to Change]";

enum EditMode { kEditStored = 0, kEditNew = 1, kEditCopy = 2 };

// The main window's boxes as Save reads them.
struct SaveForm {
    std::string username;
    std::string homeDir;
    std::string password;
    std::string notes;
    Rights boxes;                             // the eight rights boxes
    bool inheritBox = false;                  // chkInherit
    std::optional<std::string> selectedRule;  // the selected rule entry
};

// What Save writes besides the boxes.
struct SaveContext {
    std::string selectedUser;
    int editMode = kEditStored;
    std::vector<DirRule> ruleSet;
};

// The boxes once they passed every check.
struct CheckedUser {
    std::string username;
    std::string homeDir;
    std::string password;
    bool passwordChanged = false;
    std::optional<std::string> notes;  // none: stored as NULL
    std::string acronym;               // of the boxes
    int inherit = 0;                   // of chkInherit
};

// The checks of Save in their order; each refusal or declined question is
// shown through the prompts and gives no value.
std::optional<CheckedUser> checkForSave(const SaveForm& form, UserPrompts& prompts);

// The statements of the edit mode, with their log lines, in order.
std::vector<WriteStep> saveSteps(const CheckedUser& user, const SaveForm& form,
                                 const SaveContext& context);

// An inherit text as the bare number it is written as: its integer when it
// holds one, otherwise 0 (not inherited), so no other text reaches the SQL.
std::string inheritNumber(const std::string& inheritText);

enum class SaveOutcome { Stopped, DatabaseUnavailable, Failed, Written };

// Save from the first log line to the closed connection. On Written the
// caller returns the edit mode to 0 and refills the user list.
SaveOutcome saveUser(const SaveForm& form, const SaveContext& context, UserPrompts& prompts);

}  // namespace kestrix::users

#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/field_merge.h"
#include "core/rights.h"
#include "core/write_lock.h"
#include "users/editing/edit_mode.h"

namespace kestrix {

// What Save replaces of a stored user: its record and its rules.
inline UserParts savedParts() {
    return UserParts{{"username", "homedir", "password", "comments"}, true, false};
}

// The editing state of the user in the main window. It lives as long as the
// program; every per-user dialog acts on selectedUser.
class EditingState {
  public:
    // The name the statements put in their WHERE clauses: the list entry
    // last selected, the empty text while a new user is pending, the new
    // name while a copy is pending.
    std::string selectedUser;
    EditMode editMode = EditMode::Stored;
    // The user's directory rules in load order, followed by those added since.
    std::vector<DirRule> ruleSet;
    // Set when the focus leaves an editable box or a rule box, or a rule is
    // added, edited or deleted; cleared when Save starts. Save is bold while set.
    bool unsavedChanges = false;
    // The stored user's record and rules as loaded, which Save compares
    // with what is stored before it replaces them.
    std::optional<std::string> loadedVersion;
    // The record and rules as loaded, so that Save can keep another
    // administrator's changes beside its own (recordFields of them).
    struct Loaded {
        std::string username;
        std::string homeDir;
        std::string notes;
        std::vector<DirRule> rules;
    };
    Loaded loaded;
};

// The fields of a user's record and rules as Save compares them: one per
// box, one per rule (keyed by its directory).
FieldValues recordFields(const std::string& username, const std::string& homeDir,
                         const std::string& notes, const std::vector<DirRule>& rules);

}  // namespace kestrix

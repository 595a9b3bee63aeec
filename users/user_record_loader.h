#pragma once

#include <string>

#include "users/editing_state.h"
#include "users/status_lines.h"

namespace kestrix {

// What loading one user needs of the window, in the order it happens.
class UserRecordView {
  public:
    virtual ~UserRecordView() = default;
    // Empties the rule list.
    virtual void clearRules() = 0;
    // One users row: the name, home directory and notes boxes, and the
    // password placeholder.
    virtual void showRecord(const std::string& username, const std::string& homedir,
                            const std::string& comments) = 0;
    // One rule: the list shows its directory.
    virtual void addRule(const std::string& directory) = 0;
    virtual void showDisableLine(const StatusLine& line) = 0;
    virtual void showExpiryLine(const StatusLine& line) = 0;
    virtual void statementFailed(const std::string& description) = 0;
};

// loadUserData: loads one user into the view and rebuilds state.ruleSet.
// When the database cannot be opened it stops after emptying the rules, so
// the boxes and status lines keep what they showed. Nothing else of the
// state is touched. False when the database refused a statement (the view
// has been told), which ends the command that loaded.
bool loadUserData(const std::string& name, EditingState& state, UserRecordView& view);

// Reads only the user's dates and disable switch into the two status lines,
// leaving the boxes and the rules as they are (a dialog stored new dates
// while the record has edits of its own). False when the database refused.
bool loadStatusLines(const std::string& name, UserRecordView& view);

}  // namespace kestrix

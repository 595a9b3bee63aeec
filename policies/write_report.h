#pragma once

#include <string>

class QWidget;

#include "policies/logic/policy_database.h"

namespace kestrix {

// After a dialog's write: true when it went through; a refused statement is
// shown to the administrator (a failed opening has been reported already).
bool writeWentThrough(policies::WriteOutcome outcome, const std::string& failure);

// A per-user dialog's caption with the user it edits: "User Disk Quota - bob".
void nameUserInCaption(QWidget* dialog, const char* caption, const std::string& user);

}  // namespace kestrix

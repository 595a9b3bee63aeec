#pragma once

#include <string>

#include "policies/logic/policy_database.h"

namespace kestrix {

// After a dialog's write: true when it went through; a refused statement is
// shown to the administrator (a failed opening has been reported already).
bool writeWentThrough(policies::WriteOutcome outcome, const std::string& failure);

}  // namespace kestrix

#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

#include "core/audit_trail.h"
#include "policies/logic/policy_database.h"

namespace kestrix {

// A dialog's write as the audit trail names it: the dialog's caption, the
// user (none for the global lists) and the change in one line.
struct DialogWrite {
    std::string dialog;
    std::string user;
    std::string change;
};

void recordDialogWrite(const DialogWrite& write, audit::Result result,
                       const std::string& reason = {});

// After a dialog's write: true when it went through; a refused statement is
// shown to the administrator (a failed opening has been reported already).
// The write's end is recorded in the audit trail.
bool writeWentThrough(policies::WriteOutcome outcome, const std::string& failure,
                      const DialogWrite& write);

// A per-user dialog's caption with the user it edits: "User Disk Quota - bob".
void nameUserInCaption(QWidget* dialog, const char* caption, const std::string& user);

// A dialog's write of one user's settings, given the version it loaded.
// When someone else changed them meanwhile, the administrator chooses:
// Reload (reload is called), Overwrite (written without comparing) or
// Cancel; both of the former leave the dialog open with Changed. With
// keepBoth, Keep both is offered too (and is the default): it writes only
// what the dialog changed over what is stored now.
using GuardedWrite = std::function<policies::WriteOutcome(const std::optional<std::string>&)>;
policies::WriteOutcome writeOrAsk(const std::string& user, const std::optional<std::string>& loaded,
                                  const GuardedWrite& write, const std::function<void()>& reload,
                                  const std::function<policies::WriteOutcome()>& keepBoth = {});

}  // namespace kestrix

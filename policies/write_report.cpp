#include "policies/write_report.h"

#include "shell/shell.h"

namespace kestrix {

bool writeWentThrough(policies::WriteOutcome outcome, const std::string& failure) {
    if (outcome == policies::WriteOutcome::Refused) reportStatementFailure(failure);
    return outcome == policies::WriteOutcome::Written;
}

}  // namespace kestrix

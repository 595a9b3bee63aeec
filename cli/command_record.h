#pragma once

#include <string>
#include <vector>

#include "cli/invocation.h"

namespace kestrix::cli {

// Runs a command. One that changes something leaves one line in the audit
// trail: the command, its FTP user, its operands and options (a password
// only as "password changed"), and the outcome read from the exit status
// and what the command said on standard error.
int runRecorded(const std::vector<std::string>& commandWords, const Invocation& in,
                int (*run)(const Invocation&));

}  // namespace kestrix::cli

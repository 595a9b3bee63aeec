#pragma once

#include <optional>
#include <string>

#include "cli/invocation.h"

namespace kestrix::cli {

// The password a command was given: --password, one line of standard input
// with --password-stdin, or else typed twice on the terminal without echo.
// No value (and the reason in error) when none could be had.
std::optional<std::string> commandPassword(const Invocation& in, std::string& error);

// The same where a password is optional: no value and no error when the
// command was given neither flag.
std::optional<std::string> givenPassword(const Invocation& in, std::string& error);

// A secret as one line of standard input: typed without echo after the
// prompt when standard input is a terminal. No value at its end.
std::optional<std::string> secretFromStandardInput(const std::string& prompt);

// A question answered y or n on the terminal the command was started from
// (anything else is no). No value when it was not started from one.
std::optional<bool> yesOnTerminal(const std::string& question);

}  // namespace kestrix::cli

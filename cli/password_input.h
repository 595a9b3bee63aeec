#pragma once

#include <optional>
#include <string>

#include "cli/invocation.h"

namespace kestrix::cli {

// The password a command was given: --password, one line of standard input
// with --password-stdin, or else typed twice on the terminal without echo.
// No value (and the reason in error) when none could be had.
std::optional<std::string> commandPassword(const Invocation& in, std::string& error);

}  // namespace kestrix::cli

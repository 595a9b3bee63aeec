#pragma once

#include <filesystem>

#include "app/program_commands.h"

namespace kestrix {

// The commands of the program as it runs for real (tests leave them out).
ProgramCommands standardCommands(const std::filesystem::path& programDirectory);

}  // namespace kestrix

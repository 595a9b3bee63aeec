#pragma once

#include <filesystem>

namespace kestrix {

// The updater left in the program directory by the last update ("update").
// Removes it when it is there; true when a file was removed.
bool removeLeftoverUpdater(const std::filesystem::path& programDirectory);

}  // namespace kestrix

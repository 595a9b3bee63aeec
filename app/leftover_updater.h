#pragma once

#include <filesystem>

namespace kestrix {

// The updater left in the program directory by the last update ("update").
// Removes it when it is there and no updater is running; true when a file
// was removed.
bool removeLeftoverUpdater(const std::filesystem::path& programDirectory);

}  // namespace kestrix

#pragma once

#include <functional>

namespace kestrix {

// Commands of the main window whose work lives elsewhere in the program.
// An empty command does nothing.
struct ProgramCommands {
    std::function<void()> addUserNameIndexes;  // start-up, for a database made without them
    std::function<void()> applyAccountDates;   // the daily account rules
    std::function<void()> lowerCasePaths;      // start-up's path normalisation
    std::function<void()> openManual;          // Help
    std::function<void()> migrationUtility;    // Tools, Migration Utility
    std::function<void()> checkUpdates;        // Help, Check for Updates
};

}  // namespace kestrix

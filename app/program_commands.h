#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kestrix {

// Commands of the main window whose work lives elsewhere in the program.
// An empty command does nothing.
struct ProgramCommands {
    std::function<void()> addUserNameIndexes;  // start-up, for a database made without them
    // Start-up: what is readable by everyone, or kept in clear (noted too).
    std::function<std::vector<std::string>()> securityNotices;
    // The daily account rules; accountsChanged is called once they have
    // deleted or disabled an account, so the window can show it.
    std::function<void(const std::function<void()>& accountsChanged)> applyAccountDates;
    std::function<void()> lowerCasePaths;    // start-up's path normalisation
    std::function<void()> openManual;        // Help
    std::function<void()> migrationUtility;  // Tools, Migration Utility
    std::function<void()> checkUpdates;      // Help, Check for Updates
};

}  // namespace kestrix

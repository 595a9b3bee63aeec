#include "app/leftover_updater.h"

#include <system_error>

#include "maintenance/program_swap.h"

namespace kestrix {

bool removeLeftoverUpdater(const std::filesystem::path& programDirectory) {
    if (programDirectory.empty()) return false;
    // A running updater's file is in use, not left over.
    if (updaterRunning(programDirectory)) return false;
    std::error_code ec;
    const std::filesystem::path updater = programDirectory / kUpdaterFileName;
    if (!std::filesystem::is_regular_file(updater, ec)) return false;
    return std::filesystem::remove(updater, ec);
}

}  // namespace kestrix

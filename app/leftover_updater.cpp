#include "app/leftover_updater.h"

#include <system_error>

namespace kestrix {

bool removeLeftoverUpdater(const std::filesystem::path& programDirectory) {
    if (programDirectory.empty()) return false;
    std::error_code ec;
    const std::filesystem::path updater = programDirectory / "update";
    if (!std::filesystem::is_regular_file(updater, ec)) return false;
    return std::filesystem::remove(updater, ec);
}

}  // namespace kestrix

#include "core/program_places.h"

#include <system_error>

namespace kestrix {

InstallLayout configuredLayout() {
#ifdef KESTRIX_INSTALL_BIN_DIR
    return {KESTRIX_INSTALL_BIN_DIR, KESTRIX_INSTALL_LIB_DIR, KESTRIX_INSTALL_DATA_DIR};
#else
    return {};
#endif
}

ProgramPlaces programPlaces(const std::filesystem::path& programDirectory,
                            const InstallLayout& layout) {
    std::error_code ec;
    // equivalent() sees through links (/bin on a merged /usr) and trailing
    // slashes; a missing directory is no installation.
    if (!layout.programDirectory.empty() && !programDirectory.empty() &&
        std::filesystem::equivalent(programDirectory, layout.programDirectory, ec) && !ec)
        return {programDirectory, layout.libraryDirectory, layout.dataDirectory, true};
    return {programDirectory, programDirectory, programDirectory, false};
}

}  // namespace kestrix

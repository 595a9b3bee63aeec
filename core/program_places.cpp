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

namespace {

bool sameDirectory(const std::filesystem::path& a, const std::filesystem::path& b) {
    // equivalent() sees through links (/bin on a merged /usr) and trailing
    // slashes; a missing directory is no installation.
    std::error_code ec;
    return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

ProgramPlaces programPlaces(const std::filesystem::path& programDirectory,
                            const InstallLayout& layout) {
    if (sameDirectory(programDirectory, layout.programDirectory))
        return {programDirectory, layout.libraryDirectory, layout.dataDirectory, true};
    return {programDirectory, programDirectory, programDirectory, false};
}

std::filesystem::path programDirectoryOf(const std::filesystem::path& privateDirectory,
                                         const InstallLayout& layout) {
    return sameDirectory(privateDirectory, layout.libraryDirectory) ? layout.programDirectory
                                                                    : privateDirectory;
}

}  // namespace kestrix

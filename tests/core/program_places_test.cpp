#include "core/program_places.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/scratch.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

TEST(ProgramPlacesTest, TheInstalledDirectoryUnderAnyNameUsesTheLayoutElseBesideTheProgram) {
    test::TempDir dir;
    const fs::path bin = dir.path() / "usr/bin";
    const fs::path build = dir.path() / "build/app";
    fs::create_directories(bin);
    fs::create_directories(build);
    fs::create_directories(dir.path() / "usr/lib");
    fs::create_directory_symlink(dir.path() / "usr/bin", dir.path() / "bin");
    const InstallLayout layout{bin, dir.path() / "usr/lib/kestrix",
                               dir.path() / "usr/share/kestrix"};

    for (const fs::path& installed :
         {bin, fs::path(bin.string() + "/"), dir.path() / "bin", dir.path() / "usr/lib/../bin"}) {
        SCOPED_TRACE(installed.string());
        const ProgramPlaces places = programPlaces(installed, layout);
        EXPECT_TRUE(places.installed);
        EXPECT_EQ(places.programDirectory, installed);
        EXPECT_EQ(places.libraryDirectory, layout.libraryDirectory);
        EXPECT_EQ(places.dataDirectory, layout.dataDirectory);
    }
    // A build tree, a directory that is gone, and a build without a layout.
    for (const auto& [program, used] :
         {std::pair{build, layout}, std::pair{dir.path() / "gone", layout},
          std::pair{bin, InstallLayout{}}}) {
        SCOPED_TRACE(program.string());
        const ProgramPlaces places = programPlaces(program, used);
        EXPECT_FALSE(places.installed);
        EXPECT_EQ(places.libraryDirectory, program);
        EXPECT_EQ(places.dataDirectory, program);
    }
}

TEST(ProgramPlacesTest, APrivateProgramBelongsToTheInstalledProgramOnlyFromTheLibraryDirectory) {
    test::TempDir dir;
    const fs::path lib = dir.path() / "usr/lib/kestrix";
    const fs::path build = dir.path() / "build/maintenance";
    fs::create_directories(lib);
    fs::create_directories(build);
    fs::create_directory_symlink(lib, dir.path() / "kestrix-lib");
    const InstallLayout layout{dir.path() / "usr/bin", lib, dir.path() / "usr/share/kestrix"};
    EXPECT_EQ(programDirectoryOf(lib, layout), layout.programDirectory);
    EXPECT_EQ(programDirectoryOf(dir.path() / "kestrix-lib", layout), layout.programDirectory);
    EXPECT_EQ(programDirectoryOf(build, layout), build);
    EXPECT_EQ(programDirectoryOf(lib, InstallLayout{}), lib);
}

TEST(ProgramPlacesTest, TheBuildsOwnLayoutIsTheConfiguredOneAndLeavesTheBuildTreeAlone) {
    const InstallLayout layout = configuredLayout();
    EXPECT_EQ(layout.programDirectory, fs::path(KESTRIX_INSTALL_BIN_DIR));
    EXPECT_EQ(layout.libraryDirectory, fs::path(KESTRIX_INSTALL_LIB_DIR));
    EXPECT_EQ(layout.dataDirectory, fs::path(KESTRIX_INSTALL_DATA_DIR));
    // The tests run from the build tree: its programs use what is beside them.
    const fs::path here = fs::read_symlink("/proc/self/exe").parent_path();
    EXPECT_FALSE(programPlaces(here).installed);
}

}  // namespace
}  // namespace kestrix

#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "shell/message_boxes.h"

namespace kestrix {

inline constexpr const char* kMigrationQuestion =
    "Running the migration utility will migrate all users from your \r\nini file to the "
    "database. Make sure that you have correctly \r\nconfigured Kestrix before "
    "proceeding\r\n\r\nThe migration utility needs to be run when both Kestrix \r\nand Serv-U "
    "are closed. This means that your users will not be able \r\nto login and any current "
    "sessions will be dropped.\r\n\r\nWould you like to run the migration utility now?";

inline constexpr const char* kMigrationFileName = "migration";

// The two builds the program carries, one per generation of the FTP server.
enum class MigrationBuild { Server2To3, Server4Up };

// The Qt resource holding the build.
const char* migrationResource(MigrationBuild build);

// Tools, Migration Utility: asks whether to run it; true on Yes.
bool askToRunMigration(MessageBoxes& boxes);

// What the launcher needs from the running program to hand over.
struct MigrationHandOver {
    std::function<bool()> mayLeave;  // the unsaved-changes question; false stays
    std::function<void()> leave;     // the end without the exit question
};

enum class MigrationLaunch { HandedOver, Stayed, Failed };

// The argument naming the directory of the program that the utility starts
// again when it is done.
inline constexpr const char* kProgramDirectoryOption = "--program-directory";

// Where the chosen build is written, and which program it returns to. The
// program directory of an installed program is not the user's to write.
struct MigrationPlaces {
    std::filesystem::path utilityDirectory;
    std::filesystem::path programDirectory;
};

// The user's own place for the written utility: $XDG_CACHE_HOME/kestrix, or
// ~/.cache/kestrix.
std::filesystem::path migrationCacheDirectory();

// Writes the build as "migration" into the utility directory (made when
// missing), starts it there with the program directory as its argument and
// leaves. A file that cannot be written or a program that cannot be started
// is reported, and the program stays. startedPid, when given, receives the
// utility's process id.
MigrationLaunch launchMigration(const MigrationPlaces& places, MigrationBuild build,
                                MessageBoxes& boxes, const MigrationHandOver& handOver,
                                long long* startedPid = nullptr);

}  // namespace kestrix

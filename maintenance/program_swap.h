#pragma once

#include <QString>

#include <filesystem>
#include <string>

namespace kestrix {

// Files of the program directory that an update touches.
inline constexpr const char* kProgramFileName = "Tavix";
inline constexpr const char* kPackageFileName = "Tavix.upg";
inline constexpr const char* kBackupFileName = "Tavix.bak";
inline constexpr const char* kUpdaterFileName = "update";

// The single-instance lock of the program for the settings store this process
// uses: the program holds it while it runs, the updater waits for it.
QString programLockPath();

// The lock the updater holds from its start until it hands back to the
// program, for the program directory it updates.
QString updaterLockPath(const std::filesystem::path& programDirectory);

// True while an updater holds the lock of that directory: a program started
// then must leave it alone (neither start nor delete the updater's file).
bool updaterRunning(const std::filesystem::path& programDirectory);

enum class SwapOutcome { Swapped, NoProgram, NoPackage, StillRunning, Failed };

struct SwapReport {
    SwapOutcome outcome;
    std::string detail;  // the system's reason when Failed
};

// The updater's work: waits up to waitMs until the lock is free (else changes
// nothing), copies the program file to the backup, writes the package to a
// temporary file beside the program with the program file's mode and renames
// it over the program file (so it is always the old or the new one), then
// deletes the package.
SwapReport swapProgram(const std::filesystem::path& directory, const QString& lockPath, int waitMs);

// Starts the program file of the directory detached; true when it started.
bool startProgram(const std::filesystem::path& directory);

}  // namespace kestrix

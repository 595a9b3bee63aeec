#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "maintenance/http_fetch.h"
#include "maintenance/version_reply.h"
#include "shell/message_boxes.h"

namespace kestrix {

inline constexpr const char* kUpToDateMessage =
    "You have the most up to date version of this software";
inline constexpr const char* kNewVersionQuestion =
    "A new version of Kestrix is available for download.\r\nIt is recommended that you have the "
    "newest version of this software\r\n\r\nWould you like to update your version of Kestrix now?";
inline constexpr const char* kLaterMessage =
    "If you want to download the newest version at a later time, just click \"Help\" and then "
    "\"Check for updates.\"";
inline constexpr const char* kUnreachablePrefix = "The update server could not be reached: ";
inline constexpr const char* kNoVersionMessage = "The update server gave no version.";
inline constexpr const char* kNotAVersionPrefix = "The update server's reply is not a version: ";
inline constexpr const char* kNoKeyMessage =
    "This build of Kestrix has no key to verify updates with, so it cannot install them.\r\n"
    "Please install the new version by hand.";
inline constexpr const char* kNotWritablePrefix = "Kestrix cannot write its program directory ";
inline constexpr const char* kPackagedPrefix =
    "Kestrix was installed by the system's package manager in ";
inline constexpr const char* kRejectedPrefix = "The update was not installed: ";

// The paths of the version query and of the package on the update server.
inline constexpr const char* kVersionPath = "/OrvaneUpdateServer/version.asp?app=Tavix";
inline constexpr const char* kPackagePath = "/orvaneupdateserver/Tavix.upg";

// The largest package taken: far above any real program, far below what
// would take the computer's memory.
inline constexpr std::int64_t kMaxPackageBytes = 256 << 20;
// An Ed25519 signature is 64 bytes.
inline constexpr std::int64_t kMaxSignatureBytes = 1024;

struct UpdateCheckSetup {
    std::string serverBase;  // scheme, host and port of the update server
    Version own;
    std::string publicKeyHex;  // empty: this build cannot verify updates
    std::filesystem::path programDirectory;
    // Installed by the system's package manager, which owns its files.
    bool packaged = false;
    int timeoutMs = 30000;  // per reply: nothing arriving for this long fails it
    std::int64_t maxPackageBytes = kMaxPackageBytes;
};

// What the check needs from the running program to hand over to the updater.
struct UpdateHandOver {
    // The version query begins: show that it waits, offer Cancel.
    std::function<void(FetchControl&)> asking;
    std::function<void()> answered;  // the version query has ended, however it ended
    // The package download begins: follow its progress, cancel it.
    std::function<void(FetchControl&)> downloading;
    std::function<void()> downloaded;  // the package download has ended, however it ended
    std::function<bool()> mayLeave;    // the unsaved-changes question; false stays
    std::function<void()> leave;       // the end without the exit question
};

enum class UpdateOutcome {
    UpToDate,
    Unreachable,
    NoVersion,
    Declined,
    NoKey,
    NotWritable,
    Rejected,
    Stayed,
    HandedOver,
    Cancelled,  // the version query, at the administrator's Cancel
};

// "2.1.7"
std::string versionText(const Version& version);
// The line naming this build's version and the server's.
std::string versionsLine(const Version& own, const Version& offered);

// Help, Check for Updates: asks the server for its version and, when it is
// newer and the administrator agrees, downloads and verifies the package,
// puts the updater beside the program, starts it and leaves.
UpdateOutcome checkForUpdates(const UpdateCheckSetup& setup, MessageBoxes& boxes,
                              const UpdateHandOver& handOver);

// Writes the updater the program carries when the directory has none;
// an existing one is kept. Empty text on success, else the reason.
std::string ensureUpdater(const std::filesystem::path& directory);

}  // namespace kestrix

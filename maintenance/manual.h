#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "shell/message_boxes.h"

namespace kestrix {

// The manual beside the program; the program never writes it.
inline constexpr const char* kManualFileName = "Pelm_Manual.pdf";
inline constexpr const char* kManualMissingMessage = "The help file is missing.";
inline constexpr const char* kNoPdfViewerPrefix =
    "No program to show PDF files is installed on this computer.\r\n\r\nThe manual is the file ";

// "The help file is missing." and where it was looked for.
std::string manualMissingMessage(const std::filesystem::path& manual);

enum class ManualOutcome { Opened, NoViewer, Missing };

// Hands a URL to the desktop; false when nothing could open it.
using UrlOpener = std::function<bool(const std::string& url)>;

// Help: opens the manual of the program directory with the desktop's PDF
// viewer, or says why it cannot.
ManualOutcome openManual(const std::filesystem::path& programDirectory, MessageBoxes& boxes,
                         const UrlOpener& open);

// The manual's file URL, encoded so that any path survives the round trip.
std::string manualUrl(const std::filesystem::path& manual);

}  // namespace kestrix

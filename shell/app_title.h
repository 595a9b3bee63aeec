#pragma once

#include <string_view>

namespace kestrix {

// The caption of every message box that names no other.
inline constexpr std::string_view kAppTitle = "Tavix2";

// The tip text of the notification-area icon and the main window's caption.
inline constexpr std::string_view kProductName = "Kestrix";

}  // namespace kestrix

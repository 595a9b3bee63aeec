#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// The password box shows this after loading: keep the stored password.
inline constexpr std::string_view kPasswordPlaceholder = "[Click Here to Change]";

// Entering the box removes the placeholder; leaving it empty puts it back.
inline std::string passwordOnEnter(std::string_view text) {
    return text == kPasswordPlaceholder ? std::string() : std::string(text);
}
inline std::string passwordOnLeave(std::string_view text) {
    return text.empty() ? std::string(kPasswordPlaceholder) : std::string(text);
}

}  // namespace kestrix

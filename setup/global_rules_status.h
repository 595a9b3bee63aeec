#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

inline constexpr std::string_view kNoRulesText =
    "No IP rules are set. Server is available to everyone.";

// The caption of the server-wide rules label, read from blocked_ips through
// a silent opening. No value when the database could not be opened (the
// label then keeps its text); the refused statement's description in
// failure when the query failed.
std::optional<std::string> globalRulesCaption(std::string* failure);

}  // namespace kestrix

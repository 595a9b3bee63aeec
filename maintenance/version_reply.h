#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrix {

struct Version {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t revision = 0;

    // Part by part, as numbers: 2.1.7 is newer than 2.0.200.
    auto operator<=>(const Version&) const = default;
};

// The longest version reply read: a version is a few characters, anything
// longer is not one.
inline constexpr std::int64_t kMaxVersionReplyBytes = 256;
// Digits a part may have; a longer run of digits is not a version number.
inline constexpr std::size_t kMaxVersionPartDigits = 9;

// The update server's version reply: blanks at both ends removed, split at
// full stops, each of the first three pieces read by its leading digits (a
// missing piece or one without a leading digit counts as 0). No value when
// the reply names no version at all (empty, or its first piece has no digit)
// or a piece has more than kMaxVersionPartDigits digits.
std::optional<Version> parseVersionReply(std::string_view reply);

}  // namespace kestrix

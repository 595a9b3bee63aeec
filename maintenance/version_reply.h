#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrix {

struct Version {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t revision = 0;
};

// The update server's version reply: blanks at both ends removed, split at
// full stops, each of the first three pieces read by its leading digits (a
// missing piece or one without a leading digit counts as 0). No value when
// the reply names no version at all (empty, or its first piece has no digit).
std::optional<Version> parseVersionReply(std::string_view reply);

// major x 100000 + minor x 1000 + revision x 10, in 64 bits so that a major
// number above 21474 still compares correctly.
std::int64_t versionKey(const Version& version);

}  // namespace kestrix

#pragma once

namespace kestrix {

// The program's own version: major, minor, revision.
inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 1;
inline constexpr int kVersionRevision = 7;

}  // namespace kestrix

#pragma once

#include "generated/kestrix_version.h"

namespace kestrix {

// The program's own version: major, minor, revision, from the CMake project.
inline constexpr int kVersionMajor = KESTRIX_VERSION_MAJOR;
inline constexpr int kVersionMinor = KESTRIX_VERSION_MINOR;
inline constexpr int kVersionRevision = KESTRIX_VERSION_PATCH;

}  // namespace kestrix

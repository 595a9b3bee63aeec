#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/text_routines.h"

namespace kestrix::users {

std::string lowerAscii(std::string_view text);

// A directory as a rule or home directory keeps it: blanks removed and a
// trailing '/' dropped, except from the root "/" itself.
std::string withoutTrailingSeparator(std::string_view path);

// A full path, from the root: what the FTP server can use wherever it runs.
bool isAbsolutePath(std::string_view path);

}  // namespace kestrix::users

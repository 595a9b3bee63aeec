#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix::users {

// Characters as the administrator typed them (UTF-8 code points), which is
// what the length limits count.
std::size_t characterCount(std::string_view text);

// Surrounding blanks removed (blanks, tabs and line breaks).
std::string trimmed(std::string_view text);
bool isBlank(std::string_view text);
std::string lowerAscii(std::string_view text);

// A directory as a rule or home directory keeps it: blanks removed and a
// trailing '/' dropped, except from the root "/" itself.
std::string withoutTrailingSeparator(std::string_view path);

// A full path, from the root: what the FTP server can use wherever it runs.
bool isAbsolutePath(std::string_view path);

}  // namespace kestrix::users

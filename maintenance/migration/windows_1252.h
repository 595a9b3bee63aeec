#pragma once

#include <string>
#include <string_view>

namespace kestrix::migration {

// Converts text in the Windows-1252 code page (the FTP server's account file
// on Western installs) to UTF-8. Every byte has a character: the five bytes
// the code page leaves unassigned become the control characters of the same
// number, as Windows itself converts them.
std::string windows1252ToUtf8(std::string_view bytes);

}  // namespace kestrix::migration

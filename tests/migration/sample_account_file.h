#pragma once

#include <string>

namespace kestrix::migration::test {

// An account file of the domain form, as the FTP server writes it: CR LF,
// Windows-1252, keys out of order, mixed letter case in names.
std::string domainFormFile();

// An account file of the old form: [USER=name] sections, LF only.
std::string oldFormFile();

}  // namespace kestrix::migration::test

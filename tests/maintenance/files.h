#pragma once

#include <filesystem>
#include <string>

namespace kestrix::test {

std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::string& bytes,
               std::filesystem::perms mode);
// Waits (processing events) until the file exists; false after ms.
bool appears(const std::filesystem::path& file, int ms = 20000);

}  // namespace kestrix::test

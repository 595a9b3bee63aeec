#pragma once

#include <string>
#include <string_view>

namespace kestrix {

struct PathTests {
    bool isDirectory = false;       // exists and is a directory (links followed)
    bool isEmptyDirectory = false;  // a directory without entries
    bool isNetworkPath = false;     // a UNC path, or on a network file system
    bool isRoot = false;            // "/", or the root of a UNC share
    bool isUNC = false;             // two slashes or backslashes, then a host name
    bool isURL = false;             // a scheme, then ':'
};

PathTests getPathTests(std::string_view path);

bool isUncPath(std::string_view path);
bool isUrl(std::string_view path);
bool isRootPath(std::string_view path);

// The file system type of the mount that holds the path, by the longest
// matching mount point of the given mount table ("/proc/self/mounts" form).
std::string fileSystemTypeOf(std::string_view path, std::string_view mountTable);
bool isNetworkFileSystem(std::string_view type);

}  // namespace kestrix

#include "core/path_tests.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace kestrix {

namespace fs = std::filesystem;

namespace {

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// The mount table escapes blanks and the like as octal (\040).
std::string unescapeMountField(std::string_view field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        const bool octal = field[i] == '\\' && i + 3 < field.size() &&
                           std::isdigit(static_cast<unsigned char>(field[i + 1]));
        if (octal) {
            out.push_back(
                static_cast<char>(std::stoi(std::string(field.substr(i + 1, 3)), nullptr, 8)));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

bool isUnder(std::string_view path, std::string_view mountPoint) {
    if (mountPoint == "/") return !path.empty() && path.front() == '/';
    if (path.substr(0, mountPoint.size()) != mountPoint) return false;
    return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

std::string readMountTable() {
    std::ifstream in("/proc/self/mounts");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

bool isUncPath(std::string_view path) {
    if (path.size() < 3 || !isSeparator(path[0]) || !isSeparator(path[1])) return false;
    const unsigned char host = static_cast<unsigned char>(path[2]);
    return !isSeparator(path[2]) &&
           (std::isalnum(host) || host == '-' || host == '_' || host == '.' || host >= 0x80);
}

bool isUrl(std::string_view path) {
    const size_t colon = path.find(':');
    if (colon == std::string_view::npos || colon < 2) return false;
    for (size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (!(std::isalnum(c) || c == '+' || c == '-' || c == '.')) return false;
    }
    return true;
}

bool isRootPath(std::string_view path) {
    if (path == "/") return true;
    if (!isUncPath(path)) return false;
    // A share root: //host/share with at most a trailing separator.
    std::string_view rest = path.substr(2);
    const size_t hostEnd = rest.find_first_of("/\\");
    if (hostEnd == std::string_view::npos) return false;
    rest = rest.substr(hostEnd + 1);
    if (rest.empty() || isSeparator(rest.front())) return false;
    const size_t shareEnd = rest.find_first_of("/\\");
    return shareEnd == std::string_view::npos || shareEnd + 1 == rest.size();
}

bool isNetworkFileSystem(std::string_view type) {
    static constexpr std::string_view kNetworkTypes[] = {
        "nfs",        "nfs4", "cifs", "smb3",      "smbfs",
        "fuse.sshfs", "9p",   "ceph", "glusterfs", "fuse.glusterfs"};
    for (auto known : kNetworkTypes) {
        if (type == known) return true;
    }
    return false;
}

std::string fileSystemTypeOf(std::string_view path, std::string_view mountTable) {
    std::string bestType;
    size_t bestLength = 0;
    std::istringstream lines{std::string(mountTable)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, type;
        if (!(fields >> device >> mountPoint >> type)) continue;
        mountPoint = unescapeMountField(mountPoint);
        if (isUnder(path, mountPoint) && mountPoint.size() >= bestLength) {
            bestLength = mountPoint.size();
            bestType = type;
        }
    }
    return bestType;
}

PathTests getPathTests(std::string_view path) {
    PathTests tests;
    tests.isUNC = isUncPath(path);
    tests.isURL = isUrl(path);
    tests.isRoot = isRootPath(path);
    if (path.empty()) return tests;

    std::error_code ec;
    const fs::path p{std::string(path)};
    tests.isDirectory = fs::is_directory(p, ec);
    if (tests.isDirectory) {
        tests.isEmptyDirectory = fs::directory_iterator(p, ec) == fs::directory_iterator() && !ec;
    }

    if (tests.isUNC) {
        tests.isNetworkPath = true;
    } else if (path.front() == '/') {
        std::string resolved = fs::weakly_canonical(p, ec).string();
        if (ec) resolved = std::string(path);
        tests.isNetworkPath = isNetworkFileSystem(fileSystemTypeOf(resolved, readMountTable()));
    }
    return tests;
}

}  // namespace kestrix

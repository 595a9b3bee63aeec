#include "core/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <system_error>

namespace kestrix {

namespace fs = std::filesystem;

namespace {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

SettingsStore::SettingsStore(fs::path root) : root_(std::move(root)) {}

SettingsStore SettingsStore::fromEnvironment() {
    const char* root = std::getenv("KESTRIX_REGISTRY");
    return SettingsStore(root != nullptr && *root != '\0' ? fs::path(root)
                                                          : fs::path("/etc/kestrix/registry"));
}

fs::path SettingsStore::keyDirectory(std::string_view keyPath) const {
    fs::path dir = root_;
    size_t start = 0;
    while (start <= keyPath.size()) {
        size_t end = keyPath.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = keyPath.size();
        const std::string_view component = keyPath.substr(start, end - start);
        if (!component.empty() && component != "." && component != "..") {
            dir /= lowerAscii(component);
        }
        start = end + 1;
    }
    return dir;
}

fs::path SettingsStore::valueFile(std::string_view keyPath, std::string_view valueName) const {
    return keyDirectory(keyPath) / (valueName.empty() ? std::string("@") : lowerAscii(valueName));
}

int SettingsStore::openKey(std::string_view keyPath) const {
    const fs::path dir = keyDirectory(keyPath);
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0) return errno == ENOENT ? kNotFound : errno;
    if (!S_ISDIR(info.st_mode)) return ENOTDIR;
    if (::access(dir.c_str(), R_OK | W_OK | X_OK) != 0) return errno;
    return kSuccess;
}

int SettingsStore::createKey(std::string_view keyPath) const {
    std::error_code ec;
    fs::create_directories(keyDirectory(keyPath), ec);
    if (ec) return ec.value();
    return openKey(keyPath);
}

std::string SettingsStore::readValue(std::string_view keyPath, std::string_view valueName) const {
    // Read with the system's calls: every connection opened reads the
    // connection string here, and a stream costs more than the read.
    const int fd = ::open(valueFile(keyPath, valueName).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    const size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

WriteResult SettingsStore::writeValue(std::string_view keyPath, std::string_view valueName,
                                      std::string_view value, mode_t mode,
                                      const FileOwner* owner) const {
    return replaceFile(valueFile(keyPath, valueName), value, mode, owner);
}

std::size_t SettingsStore::removeLeftoverWrites(std::chrono::seconds minimumAge) const {
    // replaceFile's temporary files: "." + the value's name + "." + six
    // characters. Value files never begin with a dot.
    std::size_t removed = 0;
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code entryError;
        if (name.size() < 9 || name[0] != '.' || name[name.size() - 7] != '.' ||
            !it->is_regular_file(entryError))
            continue;
        const auto written = fs::last_write_time(it->path(), entryError);
        if (entryError || now - written < minimumAge) continue;
        if (fs::remove(it->path(), entryError)) ++removed;
    }
    return removed;
}

}  // namespace kestrix

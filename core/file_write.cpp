#include "core/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/activity_log.h"

namespace kestrix {

namespace {

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

WriteResult WriteResult::failed(int error) {
    return failed(std::generic_category().message(error));
}

WriteResult WriteResult::failed(std::string reason) {
    WriteResult result;
    result.ok_ = false;
    result.error_ = reason.empty() ? std::string("unknown error") : std::move(reason);
    return result;
}

WriteResult replaceFile(const std::filesystem::path& target, std::string_view bytes, mode_t mode,
                        const FileOwner* owner) {
    std::string temp = target.parent_path() / ("." + target.filename().string() + ".XXXXXX");
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return WriteResult::failed(errno);
    int error = 0;
    if ((owner != nullptr && ::fchown(fd, owner->user, owner->group) != 0) ||
        ::fchmod(fd, mode) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error == 0) return {};
    ::unlink(temp.c_str());
    return WriteResult::failed(error);
}

WriteResult rewriteFile(const std::filesystem::path& target, std::string_view bytes) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) return WriteResult::failed(errno);
    const FileOwner owner{info.st_uid, info.st_gid};
    WriteResult replaced = replaceFile(target, bytes, info.st_mode & 07777, &owner);
    if (replaced || replaced.error() != std::generic_category().message(EPERM)) return replaced;
    // A new file cannot be given the owner or group (a group this user is
    // not in): the file itself is written, which keeps all three, after a
    // copy of what it held.
    WriteResult written = rewriteInPlace(target, bytes, info.st_mode & 07777);
    if (written)
        writeLog(target.string() + " was written in place, after a copy of it in " +
                 backupFileOf(target).string() +
                 ": a new file could not be given its owner and group");
    return written;
}

std::filesystem::path backupFileOf(const std::filesystem::path& target) {
    return target.parent_path() / (target.filename().string() + ".kestrix-backup");
}

WriteResult rewriteInPlace(const std::filesystem::path& target, std::string_view bytes,
                           mode_t backupMode) {
    std::string old;
    {
        const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return WriteResult::failed(errno);
        char buffer[65536];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0) old.append(buffer, static_cast<size_t>(n));
        }
        const int error = n < 0 ? errno : 0;
        ::close(fd);
        if (error != 0) return WriteResult::failed(error);
    }
    if (WriteResult backup = replaceFile(backupFileOf(target), old, backupMode); !backup)
        return WriteResult::failed("no backup copy could be made beside it: " + backup.error());
    const auto writeWhole = [&target](std::string_view data) {
        const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return errno;
        int error = (!writeAll(fd, data) || ::fsync(fd) != 0) ? errno : 0;
        if (::close(fd) != 0 && error == 0) error = errno;
        return error;
    };
    if (const int error = writeWhole(bytes); error != 0) {
        writeWhole(old);
        return WriteResult::failed(error);
    }
    return {};
}

}  // namespace kestrix

#include "core/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

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
    return replaceFile(target, bytes, info.st_mode & 07777, &owner);
}

}  // namespace kestrix

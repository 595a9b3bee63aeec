#include "core/private_files.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace kestrix {
namespace {

bool memberOf(gid_t group) {
    if (::getegid() == group) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group) return true;
    }
    return false;
}

}  // namespace

PrivateAccess privateAccess(PrivateKind kind) {
    PrivateAccess access;
    const group* entry = ::getgrnam(kPrivateGroup);
    if (entry == nullptr) return access;
    const gid_t gid = entry->gr_gid;
    if (::geteuid() != 0 && !memberOf(gid)) return access;
    access.mode = kind == PrivateKind::Database ? 0660 : 0640;
    access.owner = FileOwner{::geteuid(), gid};
    return access;
}

bool makePrivate(const std::filesystem::path& file, PrivateKind kind) {
    const PrivateAccess access = privateAccess(kind);
    if (access.owner && ::chown(file.c_str(), access.owner->user, access.owner->group) != 0)
        return false;
    return ::chmod(file.c_str(), access.mode) == 0;
}

WriteResult replacePrivateFile(const std::filesystem::path& file, std::string_view bytes,
                               PrivateKind kind) {
    const PrivateAccess access = privateAccess(kind);
    return replaceFile(file, bytes, access.mode, access.owner ? &*access.owner : nullptr);
}

bool readableByEveryone(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return false;
    if (S_ISDIR(info.st_mode)) return (info.st_mode & (S_IROTH | S_IXOTH)) == (S_IROTH | S_IXOTH);
    return (info.st_mode & S_IROTH) != 0;
}

}  // namespace kestrix

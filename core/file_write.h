#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrix {

// The outcome of a write: true, or false with the system's reason ("Read-only
// file system", "Permission denied"), so the administrator can be told why.
class [[nodiscard]] WriteResult {
  public:
    WriteResult() = default;
    // An errno value.
    [[nodiscard]] static WriteResult failed(int error);
    [[nodiscard]] static WriteResult failed(std::string reason);

    explicit operator bool() const { return ok_; }
    // Empty after a success.
    const std::string& error() const { return error_; }

  private:
    bool ok_ = true;
    std::string error_;
};

struct FileOwner {
    uid_t user;
    gid_t group;
};

// Replaces the file's content atomically (temporary file in the same folder,
// flush, rename), so a reader in another process sees the old or the new
// bytes, never a mix. The folder must exist.
[[nodiscard]] WriteResult replaceFile(const std::filesystem::path& target, std::string_view bytes,
                                      mode_t mode, const FileOwner* owner = nullptr);

// The same for a file that exists, keeping its permissions and owner. When
// the system does not let this user give a new file that owner or group,
// the file is written in place instead (see rewriteInPlace), which keeps
// them too.
[[nodiscard]] WriteResult rewriteFile(const std::filesystem::path& target, std::string_view bytes);

// Writes the file's new content into the file itself, after a copy of its
// old content beside it (backupFileOf, with backupMode). A write that fails
// half-way puts the old content back.
[[nodiscard]] WriteResult rewriteInPlace(const std::filesystem::path& target,
                                         std::string_view bytes, mode_t backupMode);
std::filesystem::path backupFileOf(const std::filesystem::path& target);

}  // namespace kestrix

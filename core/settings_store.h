#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/file_write.h"

namespace kestrix {

// The per-machine store of named text values: a tree of files. A key is a
// directory (components lower-cased, so keys are found without regard to
// case), a named value a file named by the lower-cased name, a key's
// default value the file "@".
class SettingsStore {
  public:
    // Codes of openKey/createKey, as the Windows registry gives them.
    static constexpr int kSuccess = 0;
    static constexpr int kNotFound = 2;

    explicit SettingsStore(std::filesystem::path root);

    // The root named by KESTRIX_REGISTRY, or /etc/kestrix/registry.
    static SettingsStore fromEnvironment();

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path keyDirectory(std::string_view keyPath) const;
    std::filesystem::path valueFile(std::string_view keyPath, std::string_view valueName) const;

    // Opens a key for full access: kSuccess, kNotFound, or the errno of
    // another failure (no rights, read-only file system, not a directory).
    [[nodiscard]] int openKey(std::string_view keyPath) const;
    // Creates the key and its missing parents: kSuccess or an errno.
    [[nodiscard]] int createKey(std::string_view keyPath) const;

    // The value's text up to its first NUL; the empty text when the key or
    // the value is missing. An empty valueName reads the default value.
    std::string readValue(std::string_view keyPath, std::string_view valueName) const;

    // Replaces the value atomically (temporary file, flush, rename), so a
    // reader in another process sees the old or the new text, never a mix.
    // The key must exist.
    [[nodiscard]] WriteResult writeValue(std::string_view keyPath, std::string_view valueName,
                                         std::string_view value, mode_t mode,
                                         const FileOwner* owner = nullptr) const;

    // Removes the temporary files that a write killed before its rename
    // left in the store, when older than minimumAge (a younger one may be
    // another program's write under way). Returns how many went.
    std::size_t removeLeftoverWrites(std::chrono::seconds minimumAge) const;

  private:
    std::filesystem::path root_;
};

}  // namespace kestrix

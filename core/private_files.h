#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "core/file_write.h"

namespace kestrix {

// The group the package creates for the FTP server: files that carry
// passwords or a connection string are readable by it and nobody else.
inline constexpr const char* kPrivateGroup = "kestrix";

// What a private file holds: a secret the group kestrix only reads (the
// connection string), or a database the answering service, which runs in
// that group, writes too (counters, hashes made at a login).
enum class PrivateKind { Secret, Database };

// How a private file is made: its owner alone (0600), or its owner and the
// group kestrix (0640, a database 0660) when that group exists and this
// process may give a file to it (root, or a member).
struct PrivateAccess {
    mode_t mode = 0600;
    std::optional<FileOwner> owner;  // set for the group kestrix
};
PrivateAccess privateAccess(PrivateKind kind = PrivateKind::Secret);

// Gives an existing file the private mode (and group). False with errno set
// when the system refused.
bool makePrivate(const std::filesystem::path& file, PrivateKind kind = PrivateKind::Secret);

// Replaces the file's bytes atomically, the new file made private.
[[nodiscard]] WriteResult replacePrivateFile(const std::filesystem::path& file,
                                             std::string_view bytes,
                                             PrivateKind kind = PrivateKind::Secret);

// True when everyone may read the file (or, for a folder, list it and read
// what is in it).
bool readableByEveryone(const std::filesystem::path& file);

}  // namespace kestrix

#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/file_write.h"

namespace kestrix {

// The SQLite file the connection string names, when that file does not
// exist yet; nothing for another engine or an existing file.
[[nodiscard]] std::optional<std::string> missingDatabaseFile(std::string_view connectionString);

// Writes the embedded empty database to the file, making its missing
// folders. Logs what it does.
[[nodiscard]] WriteResult createDatabaseFromTemplate(const std::string& file);

// The embedded empty database, byte for byte.
[[nodiscard]] std::string templateDatabaseBytes();

}  // namespace kestrix

#pragma once

#include <string>
#include <string_view>

namespace kestrix {

enum class TemplateCopy {
    NotNeeded,  // not a SQLite connection string, or the file exists
    Created,    // the file was written from the embedded template
    Failed,
};

// When the connection string names a SQLite file that does not exist yet,
// writes the embedded empty database there (making missing directories).
// Logs what it does.
TemplateCopy createDatabaseFromTemplate(std::string_view connectionString);

// The embedded empty database, byte for byte.
std::string templateDatabaseBytes();

}  // namespace kestrix

#pragma once

#include <string>

namespace kestrix {

// What the configuration dialog's three boxes hold before anything is
// stored: the FTP server's program directory, the default FTP root and the
// embedded SQLite database.
struct DesignerDefaults {
    std::string servuPath;
    std::string ftpDirectory;
    std::string connectionString;

    bool operator==(const DesignerDefaults&) const = default;
};

// Kestrix's data directory: /var/lib/kestrix for root; otherwise
// $XDG_DATA_HOME/kestrix (when that is an absolute path) or
// <home>/.local/share/kestrix.
std::string dataDirectory(bool root, const char* xdgDataHome, const char* home);

DesignerDefaults designerDefaultsFor(bool root, const char* xdgDataHome, const char* home);

// The defaults for the user running the program, from its environment.
DesignerDefaults designerDefaults();

}  // namespace kestrix

#include "setup/designer_defaults.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrix {

std::string dataDirectory(bool root, const char* xdgDataHome, const char* home) {
    if (root) return "/var/lib/kestrix";
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
        return std::string(xdgDataHome) + "/kestrix";
    std::string homeDir = home != nullptr ? home : "";
    if (homeDir.empty()) {
        if (const passwd* entry = ::getpwuid(::geteuid())) homeDir = entry->pw_dir;
    }
    return homeDir + "/.local/share/kestrix";
}

DesignerDefaults designerDefaultsFor(bool root, const char* xdgDataHome, const char* home) {
    const std::string data = dataDirectory(root, xdgDataHome, home);
    DesignerDefaults defaults;
    defaults.servuPath = root ? "/opt/Serv-U/" : data + "/Serv-U/";
    defaults.ftpDirectory = root ? "/srv/ftp/" : data + "/ftp/";
    defaults.connectionString = "Provider=SQLite;Data Source=" + data + "/servu.db";
    return defaults;
}

DesignerDefaults designerDefaults() {
    return designerDefaultsFor(::geteuid() == 0, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

}  // namespace kestrix

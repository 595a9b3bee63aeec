#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/file_write.h"

namespace kestrix {

// The plug-in as the FTP server's configuration file names it.
inline constexpr std::string_view kPluginFileName = "Quellin.so";

// The FTP server's configuration files found in its program directory, by
// name without regard to case; each the full path as the directory has it,
// or empty.
struct ServerIniFiles {
    std::string daemonIni;  // ServUDaemon.ini
    std::string servuIni;   // serv-u.ini
};
ServerIniFiles findServerIniFiles(const std::string& programDirectory);

// The configuration file's bytes with the plug-in entered: the line
// "ClientCheckDLLn=Quellin.so", n the first number no other library holds
// there, after every "[EXTERNAL]" label, or a new section at the top. None
// when a line already names the plug-in as its file is written (the file
// then stays as it is); a name in another letter case is written as the
// file is. Lines are CR LF separated; every other byte is carried over
// unchanged.
std::optional<std::string> withPluginEntered(std::string_view content);

// Reads the file, enters the plug-in and replaces the file atomically with
// its permissions and owner, unless it already names the plug-in.
[[nodiscard]] WriteResult enterPlugin(const std::string& iniPath);

// Writes the program's copy of the plug-in into the program directory when
// no file of its name is there (an existing one is never replaced).
[[nodiscard]] WriteResult installPluginFile(const std::string& programDirectory,
                                            std::string_view pluginBytes);

}  // namespace kestrix

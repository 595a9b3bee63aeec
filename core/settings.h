#pragma once

#include <string>
#include <string_view>

#include "core/file_write.h"

namespace kestrix {

// Key paths, as the program writes them; the plug-in and the migration
// utility open the same keys in other letter cases.
inline constexpr std::string_view kConnectionStringKey =
    "software\\Orvane\\serv-u\\connectionstring";
inline constexpr std::string_view kSettingsKey = "software\\Orvane\\serv-u\\settings";

// Value names under kSettingsKey.
inline constexpr std::string_view kServuPathValue = "servu_path";
inline constexpr std::string_view kFtpDirectoryValue = "ftp_directory";
inline constexpr std::string_view kIniPathValue = "ini_path";
// The update server's base address (scheme, host, port).
inline constexpr std::string_view kUpdateServerValue = "update_server";

// The stored connection string, or the empty text.
std::string readConnectionString();
// Stores the connection string, readable by its owner alone (and the group
// kestrix where there is one): it may carry a password.
[[nodiscard]] WriteResult writeConnectionString(std::string_view text);

// A named value of the settings key, or the empty text.
std::string getRegSettings(std::string_view name);
// Stores a named value of the settings key.
[[nodiscard]] WriteResult writeSetting(std::string_view name, std::string_view value);

// The open code of the connection-string key (0, 2 not found, or another
// code): the first-run test of start-up.
[[nodiscard]] int openConnectionStringKey();

}  // namespace kestrix

#pragma once

#include <optional>
#include <string>

#include "users/editing/prompts.h"

namespace kestrix::users {

inline constexpr std::size_t kMaxRulePathLength = 65000;

// The path box of the add/edit rule dialog, checked as OK accepts it.
struct DirectoryEntryResult {
    std::optional<std::string> path;  // none: the dialog stays open
    std::string shownText;            // what the path box shows afterwards
    bool changed = false;             // differs from the old path: unsaved
};

// The refusals of a path that is relative, and of a folder that is not
// there, naming the path.
std::string notAbsoluteText(const std::string& path);
std::string missingFolderText(const std::string& path);

// The path a new rule starts from: the default FTP root, blanks and a
// trailing separator removed.
std::string defaultRulePath(const std::string& ftpDirectory);

DirectoryEntryResult acceptDirectoryEntry(const std::string& typed, const std::string& oldPath,
                                          UserPrompts& prompts);

}  // namespace kestrix::users

#include "users/editing/directory_entry.h"

#include "core/path_tests.h"
#include "users/editing/text_rules.h"

namespace kestrix::users {

std::string notAbsoluteText(const std::string& path) {
    if (path.empty())
        return std::string("No path was given: a folder is named from the root, starting with /.") +
               kCrLf + "Please check your path and try again.";
    return "The path \"" + path + "\" is not absolute: a folder is named from the root, " +
           "starting with /." + kCrLf + "Please check your path and try again.";
}

std::string missingFolderText(const std::string& path) {
    return "The folder \"" + path + "\" does not exist." + kCrLf +
           "Please check your path and try again.";
}

std::string defaultRulePath(const std::string& ftpDirectory) {
    return withoutTrailingSeparator(ftpDirectory);
}

DirectoryEntryResult acceptDirectoryEntry(const std::string& typed, const std::string& oldPath,
                                          UserPrompts& prompts) {
    DirectoryEntryResult result;
    result.shownText = typed;
    if (characterCount(typed) > kMaxRulePathLength) {
        prompts.show(tooLong("directory"));
        return result;
    }
    const std::string path = withoutTrailingSeparator(typed);
    result.shownText = path;
    result.changed = path != oldPath;
    // A relative path would be read against the FTP server's own working
    // directory, wherever that is.
    if (!isAbsolutePath(path)) {
        prompts.show(refusal(notAbsoluteText(path)));
        return result;
    }
    const PathTests tests = getPathTests(path);
    if (!tests.isDirectory || tests.isURL) {
        prompts.show(refusal(missingFolderText(path)));
        return result;
    }
    result.path = path;
    return result;
}

}  // namespace kestrix::users

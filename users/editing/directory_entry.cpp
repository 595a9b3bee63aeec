#include "users/editing/directory_entry.h"

#include "core/path_tests.h"
#include "users/editing/text_rules.h"

namespace kestrix::users {

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
    const PathTests tests = getPathTests(path);
    // A relative path would be read against the FTP server's own working
    // directory, wherever that is.
    if (!isAbsolutePath(path) || !tests.isDirectory || tests.isURL) {
        prompts.show(refusal(std::string("The path specified is not valid.") + kCrLf +
                             "Please check your path and try again."));
        return result;
    }
    result.path = path;
    return result;
}

}  // namespace kestrix::users

#include "plugin/access_checks.h"

#include "plugin/account_store.h"
#include "plugin/number_text.h"
#include "plugin/path_rules.h"
#include "plugin/rule_directory_cache.h"

namespace kestrix::plugin {

std::optional<std::string> AccessChecks::homeDirectory(std::string_view user) {
    const auto row = store_.homeRow(user);
    if (!row || !row->homedir) return std::nullopt;
    if (row->disabled && storedWhole(*row->disabled) == 1) return std::nullopt;
    return row->homedir;
}

bool AccessChecks::directoryCheck(std::string_view user, std::string_view path, char letter,
                                  AccessTrace* trace) {
    if (trace) *trace = AccessTrace{};
    const auto home = homeDirectory(user);
    if (!home) return false;
    return directoryCheckFrom(*home, user, normalizePath(path, formForLetter(letter)), false,
                              letter, trace);
}

bool AccessChecks::directoryCheckFrom(const std::string& home, std::string_view user,
                                      const std::optional<std::string>& target, bool isFile,
                                      char letter, AccessTrace* trace) {
    const PathForm form = formForLetter(letter);
    // A path that cannot be normalised matches neither home nor any rule.
    if (!target) return false;
    const auto homeForm = normalizePath(home, form);
    const bool answer = homeForm && atOrBelow(*target, *homeForm);
    // A file is covered by the rules of the directory it lies in.
    const std::string_view covered = isFile ? parentDirectory(*target) : *target;
    RuleDirectoryCache::Check check(store_.ruleDirectories(), form);
    DirectoryRuleWalk walk(answer, covered, letter);
    // Rules that cannot all be read refuse: the one left unread may be the
    // one that takes the right away.
    const bool complete = store_.visitDirectoryRules(
        user, [&] { walk.restart(); },
        [&](const std::string* directory, const std::string* rights, const std::string* inherit) {
            const std::optional<std::string>* resolved =
                directory ? &check.resolve(*directory) : nullptr;
            walk.row(resolved && *resolved ? &**resolved : nullptr, rights, inherit);
        });
    if (trace) trace->directoryRule = walk.decidingRule();
    return complete && walk.answer();
}

bool AccessChecks::fileCheck(std::string_view user, std::string_view path, char letter,
                             AccessTrace* trace) {
    if (trace) *trace = AccessTrace{};
    const auto home = homeDirectory(user);
    if (!home) return false;
    const auto target = fileTarget(path, letter);
    // Files follow the directory rules as directories do, inside the home
    // as outside; the file rules decide last.
    const bool answer = directoryCheckFrom(*home, user, target, true, letter, trace);
    const ReadList<FileRuleRow> fileRules = store_.fileRules(user);
    if (!fileRules.complete) return false;
    // File rules named another way are resolved as rule directories are,
    // and kept as long; an entry is looked at afresh.
    RuleDirectoryCache::Check cached(store_.ruleDirectories(), formForLetter(letter));
    const bool entry = letter == 'M' || letter == 'm';
    return applyFileRules(answer, path, target, fileRules.rows, letter,
                          trace ? &trace->fileRule : nullptr,
                          [&](const std::string& filename) -> std::optional<std::string> {
                              return entry ? entryPath(filename) : cached.resolve(filename);
                          });
}

bool AccessChecks::ratioFree(std::string_view user, std::string_view path) {
    const auto target = normalizePath(path, PathForm::LongName);
    if (!target) return false;
    LongNameResolver resolver;
    for (const std::string& file : store_.ratioFreeFiles(user).rows) {
        const auto free = resolver.resolve(file);
        if (free && equalsNoCase(*free, *target)) return true;
    }
    return false;
}

}  // namespace kestrix::plugin

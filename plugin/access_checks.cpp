#include "plugin/access_checks.h"

#include "plugin/account_store.h"
#include "plugin/number_text.h"
#include "plugin/path_rules.h"
#include "plugin/rule_directory_cache.h"

namespace kestrix::plugin {

namespace {

// The home of a row: none when the row has none or the user is disabled.
std::optional<std::string> usableHome(const AccountStore::HomeRow& row) {
    if (!row.homedir) return std::nullopt;
    if (row.disabled && storedWhole(*row.disabled) == 1) return std::nullopt;
    return row.homedir;
}

}  // namespace

std::optional<std::string> AccessChecks::homeDirectory(std::string_view user) {
    const auto row = store_.homeRow(user);
    if (!row) return std::nullopt;
    return usableHome(*row);
}

bool AccessChecks::directoryCheck(std::string_view user, std::string_view path, char letter,
                                  AccessTrace* trace) {
    if (trace) *trace = AccessTrace{};
    return directoryCheckFrom(user, normalizePath(path, formForLetter(letter)), false, letter,
                              trace)
        .value_or(false);
}

std::optional<bool> AccessChecks::directoryCheckFrom(std::string_view user,
                                                     const std::optional<std::string>& target,
                                                     bool isFile, char letter, AccessTrace* trace) {
    // A path that cannot be normalised matches neither home nor any rule.
    if (!target) {
        if (!homeDirectory(user)) return std::nullopt;
        return false;
    }
    const PathForm form = formForLetter(letter);
    // A file is covered by the rules of the directory it lies in.
    const std::string_view covered = isFile ? parentDirectory(*target) : *target;
    RuleDirectoryCache::Check check(store_.ruleDirectories(), form);
    // The home's answer holds where no rule applies; the walk starts from
    // no, since the home row may come after the rules.
    DirectoryRuleWalk walk(false, covered, letter);
    const auto rule = [&](const AccountStore::DirRuleColumns& row) {
        const auto directory = row.directory();
        const std::optional<std::string>* resolved =
            directory ? &check.resolve(*directory) : nullptr;
        if (walk.covers(resolved && *resolved ? &**resolved : nullptr))
            walk.apply(row.rights(), row.inherit());
    };
    std::optional<std::string> home;
    bool complete = false;
    // The home a login read just now, else the home and the rules in one
    // statement.
    if (const auto kept = store_.keptHomeRow(user)) {
        home = usableHome(*kept);
        if (!home) return std::nullopt;
        complete = store_.visitDirectoryRules(
            user, [&] { walk.restart(); }, rule);
    } else {
        complete = store_.visitHomeAndDirectoryRules(
            user,
            [&] {
                walk.restart();
                home.reset();
            },
            [&](const AccountStore::HomeRow& row) { home = usableHome(row); }, rule);
        if (!home) return std::nullopt;
    }
    const auto homeForm = normalizePath(*home, form);
    const bool homeAnswer = homeForm && atOrBelow(*target, *homeForm);
    if (trace) trace->directoryRule = walk.decidingRule();
    // Rules that cannot all be read refuse: the one left unread may be the
    // one that takes the right away.
    return complete && (walk.decidingRule() >= 0 ? walk.answer() : homeAnswer);
}

bool AccessChecks::fileCheck(std::string_view user, std::string_view path, char letter,
                             AccessTrace* trace) {
    if (trace) *trace = AccessTrace{};
    const auto target = fileTarget(path, letter);
    // Files follow the directory rules as directories do, inside the home
    // as outside; the file rules decide last.
    const auto answer = directoryCheckFrom(user, target, true, letter, trace);
    if (!answer) return false;
    const ReadList<FileRuleRow> fileRules = store_.fileRules(user);
    if (!fileRules.complete) return false;
    // File rules named another way are resolved as rule directories are,
    // and kept as long; an entry is looked at afresh.
    RuleDirectoryCache::Check cached(store_.ruleDirectories(), formForLetter(letter),
                                     RuleDirectoryCache::Rows::Files);
    const bool entry = letter == 'M' || letter == 'm';
    return applyFileRules(*answer, path, target, fileRules.rows, letter,
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

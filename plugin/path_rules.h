#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrix::plugin {

// How a path is made absolute before it is compared: the long-name form
// resolves it on disk (and fails for a path that does not exist), the
// full-path form resolves it component by component as the kernel does,
// as far as it exists, and appends the rest (and does not need the path).
// Both follow links, and neither takes a relative path.
enum class PathForm { LongName, FullPath };

// The letters C and W (either case) take the full-path form, all others the
// long-name form.
PathForm formForLetter(char letter);

// The absolute form of a path without a trailing '/' (except the root); no
// value when it cannot be formed or exceeds 512 characters.
[[nodiscard]] std::optional<std::string> normalizePath(std::string_view path, PathForm form);

// The entry a deletion or rename acts on: its directory in the long-name
// form and its last name as it is, so a link is judged where the link is,
// not where it points. No value when the entry does not exist.
[[nodiscard]] std::optional<std::string> entryPath(std::string_view path);

// A file asked about with a letter, normalised as that letter needs: the
// entry itself for M (deleting or renaming it), the full-path form for A
// (appending may create the file), else the letter's form.
[[nodiscard]] std::optional<std::string> fileTarget(std::string_view path, char letter);

// The directory a normalised path lies in ("/" for a name in the root).
std::string_view parentDirectory(std::string_view normalizedPath);

// Resolves many paths in the long-name form, as normalizePath does, for
// the length of one check: the parent directories it has resolved are
// remembered, so a list of rules under the same parents costs one look at
// the disk per rule rather than one per path component.
class LongNameResolver {
  public:
    LongNameResolver() = default;
    ~LongNameResolver();
    LongNameResolver(const LongNameResolver&) = delete;
    LongNameResolver& operator=(const LongNameResolver&) = delete;

    std::optional<std::string> resolve(std::string_view path);

  private:
    struct Parent {
        std::optional<std::string> resolved;
        int fd = -1;  // the resolved directory, for looking up names in it
    };
    static constexpr int kMaxOpenParents = 8;
    std::unordered_map<std::string, Parent> parents_;
    int openParents_ = 0;
};

// Path relations of two normalised paths. "At or below" holds only at a
// path boundary: the directory itself or the directory followed by '/'.
bool atOrBelow(std::string_view path, std::string_view directory);
bool strictlyBelow(std::string_view path, std::string_view directory);
bool exactlyAt(std::string_view path, std::string_view directory);

// Texts compared without regard to ASCII letter case.
bool equalsNoCase(std::string_view a, std::string_view b);

// One dir_rights row as read (NULLs as no value).
struct DirRuleRow {
    std::optional<std::string> directory;
    std::optional<std::string> rights;
    std::optional<std::string> inherit;
};

// One file_rights row as read.
struct FileRuleRow {
    std::optional<std::string> filename;
    std::optional<std::string> rights;
};

// The directory rules applied in row order to a start answer: a rule
// applies when the path is exactly at its directory, or strictly below it
// and the rule is inherited; each applying rule sets the answer to whether
// it grants the letter, so the last one decides. The path is already
// normalised with the letter's form; rule directories are normalised here.
// decidingRule, when given, receives the place of the last applying rule in
// rules, or -1 when none applied.
bool applyDirectoryRules(bool answer, std::string_view normalizedPath,
                         const std::vector<DirRuleRow>& rules, char letter,
                         int* decidingRule = nullptr);

// The directory rules as applyDirectoryRules applies them, one row at a
// time as it is read, for a caller that resolves the rule directories
// itself (and keeps them across checks). Each row is given with its
// directory already normalised in the letter's form (nullptr: a NULL
// directory, or one that has no normalised form).
class DirectoryRuleWalk {
  public:
    DirectoryRuleWalk(bool answer, std::string_view normalizedPath, char letter)
        : start_(answer), answer_(answer), path_(normalizedPath), letter_(letter) {}

    void row(const std::string* resolvedDirectory, const std::string* rights,
             const std::string* inherit) {
        if (covers(resolvedDirectory)) apply(rights, inherit);
    }
    // The same in two steps, for a caller that reads a row's rights and
    // inheritance only when they matter: covers takes every row in order
    // and says whether its directory is the path or above it; apply then
    // takes the rights and inheritance of that row.
    bool covers(const std::string* resolvedDirectory);
    void apply(const std::string* rights, const std::string* inherit);
    // Back to the start answer, for rows that are read again from the first.
    void restart();

    bool answer() const { return answer_; }
    // The place of the last applying rule among the rows, or -1.
    int decidingRule() const { return decidingRule_; }

  private:
    bool start_;
    bool answer_;
    std::string_view path_;
    char letter_;
    int place_ = 0;
    int decidingRule_ = -1;
    bool exact_ = false;  // the row covers exactly the path
};

// Resolves a file rule's filename as fileTarget does for the letter; a
// caller may remember the answers across checks.
using FileRuleResolver = std::function<std::optional<std::string>(const std::string& filename)>;

// The file rules applied in row order: a row applies when its filename
// equals the path (without regard to case, not normalised), or when both
// name the same file once normalised as the letter needs (target: the
// path so normalised, no value when it has no form; resolve: how a
// filename is normalised, fileTarget when not given); each applying row
// sets the answer to whether it grants the letter.
// decidingRule as for the directory rules.
bool applyFileRules(bool answer, std::string_view path, const std::optional<std::string>& target,
                    const std::vector<FileRuleRow>& rules, char letter, int* decidingRule = nullptr,
                    const FileRuleResolver& resolve = {});

}  // namespace kestrix::plugin

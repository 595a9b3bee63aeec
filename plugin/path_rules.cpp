#include "plugin/path_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/rights.h"
#include "core/text_routines.h"

namespace kestrix::plugin {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxPathCharacters = 512;

std::optional<std::string> fitting(std::string text) {
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    if (text.empty() || characterCount(text) > kMaxPathCharacters) return std::nullopt;
    return text;
}

bool isAbsolute(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

std::optional<std::string> longName(const std::string& path) {
    // A relative path would be resolved against the server's working
    // directory, which says nothing about where the user is.
    if (!isAbsolute(path)) return std::nullopt;
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) return std::nullopt;
    return fitting(resolved.get());
}

// The lexically normalised path with its deepest existing ancestor resolved
// on disk and the rest appended, so that a link can never lead a path out
// of a directory it seems to be in. A name that exists but does not resolve
// (a dangling link, a loop) has no form: creating through it would land
// wherever the link points.
std::optional<std::string> fullPath(const std::string& path) {
    if (!isAbsolute(path)) return std::nullopt;
    std::string head = fs::path(path).lexically_normal().string();
    while (head.size() > 1 && head.back() == '/')
        head.pop_back();
    std::string tail;
    for (;;) {
        std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(head.c_str(), nullptr),
                                                             &std::free);
        if (resolved) {
            const std::string base = resolved.get();
            return fitting(base == "/" && !tail.empty() ? tail : base + tail);
        }
        struct stat info {};
        // A name too long for the file system cannot exist either.
        if ((errno != ENOENT && errno != ENAMETOOLONG) || ::lstat(head.c_str(), &info) == 0 ||
            head == "/")
            return std::nullopt;
        const std::size_t slash = head.rfind('/');
        tail = head.substr(slash) + tail;
        head = slash == 0 ? std::string("/") : head.substr(0, slash);
    }
}

}  // namespace

LongNameResolver::~LongNameResolver() {
    for (const auto& [path, parent] : parents_) {
        if (parent.fd >= 0) ::close(parent.fd);
    }
}

std::optional<std::string> LongNameResolver::resolve(std::string_view path) {
    std::string text(path);
    const bool endsWithSlash = text.size() > 1 && text.back() == '/';
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const std::size_t slash = text.rfind('/');
    const std::string name = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    // Relative paths and dot segments at the end go the plain way.
    if (slash == std::string::npos || text.front() != '/' || name.empty() || name == "." ||
        name == "..") {
        return normalizePath(path, PathForm::LongName);
    }
    const std::string parent = slash == 0 ? std::string("/") : text.substr(0, slash);
    auto found = parents_.find(parent);
    if (found == parents_.end()) {
        Parent entry{longName(parent)};
        // A few directories stay open; the server's descriptors are not ours
        // to use up.
        if (entry.resolved && openParents_ < kMaxOpenParents) {
            entry.fd = ::open(entry.resolved->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (entry.fd >= 0) ++openParents_;
        }
        found = parents_.emplace(parent, std::move(entry)).first;
    }
    const Parent& resolvedParent = found->second;
    if (!resolvedParent.resolved) return std::nullopt;
    const std::string candidate =
        (*resolvedParent.resolved == "/" ? "" : *resolvedParent.resolved) + "/" + name;
    struct stat info {};
    const int looked = resolvedParent.fd >= 0
                           ? ::fstatat(resolvedParent.fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW)
                           : ::lstat(candidate.c_str(), &info);
    if (looked != 0) return std::nullopt;
    // A link at the end is followed the plain way; anything else resolves
    // to its resolved parent and its own name.
    if (S_ISLNK(info.st_mode)) return normalizePath(path, PathForm::LongName);
    if (endsWithSlash && !S_ISDIR(info.st_mode)) return std::nullopt;
    return fitting(candidate);
}

PathForm formForLetter(char letter) {
    switch (letter) {
        case 'C':
        case 'c':
        case 'W':
        case 'w':
            return PathForm::FullPath;
        default:
            return PathForm::LongName;
    }
}

std::optional<std::string> normalizePath(std::string_view path, PathForm form) {
    if (path.empty()) return std::nullopt;
    const std::string text(path);
    return form == PathForm::LongName ? longName(text) : fullPath(text);
}

bool atOrBelow(std::string_view path, std::string_view directory) {
    if (directory.empty() || path.substr(0, directory.size()) != directory) return false;
    if (path.size() == directory.size() || directory.back() == '/') return true;
    return path[directory.size()] == '/';
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool strictlyBelow(std::string_view path, std::string_view directory) {
    return atOrBelow(path, directory) && !equalsNoCase(path, directory);
}

bool exactlyAt(std::string_view path, std::string_view directory) {
    return atOrBelow(path, directory) && !strictlyBelow(path, directory);
}

bool applyDirectoryRules(bool answer, std::string_view normalizedPath,
                         const std::vector<DirRuleRow>& rules, char letter, int* decidingRule) {
    const PathForm form = formForLetter(letter);
    LongNameResolver resolver;
    DirectoryRuleWalk walk(answer, normalizedPath, letter);
    for (const DirRuleRow& rule : rules) {
        std::optional<std::string> directory;
        if (rule.directory) {
            directory = form == PathForm::LongName ? resolver.resolve(*rule.directory)
                                                   : normalizePath(*rule.directory, form);
        }
        walk.row(directory ? &*directory : nullptr, rule.rights ? &*rule.rights : nullptr,
                 rule.inherit ? &*rule.inherit : nullptr);
    }
    if (decidingRule) *decidingRule = walk.decidingRule();
    return walk.answer();
}

void DirectoryRuleWalk::row(const std::string* resolvedDirectory, const std::string* rights,
                            const std::string* inherit) {
    const int place = place_++;
    if (resolvedDirectory == nullptr || !atOrBelow(path_, *resolvedDirectory)) return;
    const bool exact = !strictlyBelow(path_, *resolvedDirectory);
    if (exact || (inherit && decodeInherit(*inherit))) {
        answer_ = rights && hasRight(*rights, letter_);
        decidingRule_ = place;
    }
}

void DirectoryRuleWalk::restart() {
    answer_ = start_;
    place_ = 0;
    decidingRule_ = -1;
}

bool applyFileRules(bool answer, std::string_view path, const std::vector<FileRuleRow>& rules,
                    char letter, int* decidingRule) {
    if (decidingRule) *decidingRule = -1;
    for (std::size_t place = 0; place < rules.size(); ++place) {
        const FileRuleRow& rule = rules[place];
        if (rule.filename && equalsNoCase(*rule.filename, path)) {
            answer = rule.rights && hasRight(*rule.rights, letter);
            if (decidingRule) *decidingRule = static_cast<int>(place);
        }
    }
    return answer;
}

}  // namespace kestrix::plugin

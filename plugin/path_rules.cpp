#include "plugin/path_rules.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/rights.h"
#include "core/text_routines.h"

namespace kestrix::plugin {

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

// An absolute path with no empty, "." or ".." component and no trailing
// '/': if none of its components is a link, it is its own resolved form.
bool isPlain(std::string_view path) {
    if (path.size() < 2 || path.front() != '/' || path.back() == '/') return false;
    std::size_t at = 1;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view name = path.substr(at, end - at);
        if (name.empty() || name == "." || name == "..") return false;
        at = end + 1;
    }
    return true;
}

std::atomic<bool> gWithoutLinksUnsupported{false};

// Whether the kernel finds a plain path without following any link: then
// resolving it changes nothing, and one lookup replaces a look at every
// component. No answer where the kernel cannot say (before Linux 5.6, or a
// filter that refuses the call); the caller then resolves the path itself.
std::optional<bool> existsWithoutLinks(const std::string& path) {
    if (gWithoutLinksUnsupported.load(std::memory_order_relaxed)) return std::nullopt;
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (fd >= 0) {
        ::close(static_cast<int>(fd));
        return true;
    }
    if (errno == ENOSYS || errno == EPERM) {
        gWithoutLinksUnsupported.store(true, std::memory_order_relaxed);
        return std::nullopt;
    }
    return false;
}

bool isPlainAndFound(const std::string& path) {
    return isPlain(path) && existsWithoutLinks(path).value_or(false);
}

std::optional<std::string> longName(const std::string& path) {
    // A relative path would be resolved against the server's working
    // directory, which says nothing about where the user is.
    if (!isAbsolute(path)) return std::nullopt;
    if (isPlainAndFound(path)) return fitting(path);
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) return std::nullopt;
    return fitting(resolved.get());
}

// The path resolved as the kernel resolves it, one component at a time from
// the root: an existing component through its link, "." dropped, ".." taken
// from what precedes it once that is resolved (never by its text, which a
// link would make lie). From the first component that does not exist the
// rest is appended; a rest that climbs with ".." matches nothing, as it
// names nothing yet. A name that exists but does not resolve (a dangling
// link, a loop) has no form: creating through it would land wherever the
// link points.
std::optional<std::string> fullPath(const std::string& path) {
    if (!isAbsolute(path)) return std::nullopt;
    if (isPlainAndFound(path)) return fitting(path);
    std::string resolved;  // "" stands for the root
    bool isDirectory = true;
    bool missing = false;
    std::size_t at = 0;
    while (at < path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        const std::string_view name(path.data() + at, end - at);
        at = end + 1;
        if (name.empty()) continue;
        if (missing) {
            if (name == "." || name == "..") return std::nullopt;
            resolved.append("/").append(name);
            continue;
        }
        // Below a file nothing is found, not even its "." or "..".
        if (!isDirectory) return std::nullopt;
        if (name == ".") continue;
        if (name == "..") {
            resolved.erase(resolved.empty() ? 0 : resolved.rfind('/'));
            continue;
        }
        std::string candidate = resolved + "/" + std::string(name);
        struct stat info {};
        if (::lstat(candidate.c_str(), &info) != 0) {
            // A name too long for the file system cannot exist either.
            if (errno != ENOENT && errno != ENAMETOOLONG) return std::nullopt;
            missing = true;
            resolved = std::move(candidate);
            continue;
        }
        if (S_ISLNK(info.st_mode)) {
            std::unique_ptr<char, decltype(&std::free)> target(
                ::realpath(candidate.c_str(), nullptr), &std::free);
            if (!target || ::stat(target.get(), &info) != 0) return std::nullopt;
            candidate = std::strcmp(target.get(), "/") == 0 ? std::string() : target.get();
        }
        isDirectory = S_ISDIR(info.st_mode);
        resolved = std::move(candidate);
    }
    return fitting(resolved.empty() ? std::string("/") : resolved);
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

std::optional<std::string> entryPath(std::string_view path) {
    std::string text(path);
    if (!isAbsolute(text)) return std::nullopt;
    const std::size_t slash = text.rfind('/');
    const std::string name = text.substr(slash + 1);
    // A trailing slash or a dot segment names a directory through whatever
    // leads to it.
    if (name.empty() || name == "." || name == "..") return longName(text);
    const auto parent = longName(slash == 0 ? std::string("/") : text.substr(0, slash));
    if (!parent) return std::nullopt;
    const std::string entry = (*parent == "/" ? "" : *parent) + "/" + name;
    struct stat info {};
    if (::lstat(entry.c_str(), &info) != 0) return std::nullopt;
    return fitting(entry);
}

std::optional<std::string> fileTarget(std::string_view path, char letter) {
    if (letter == 'M' || letter == 'm') return entryPath(path);
    // Appending to a name that does not exist yet creates the file, as a
    // write does.
    if (letter == 'A' || letter == 'a') return normalizePath(path, PathForm::FullPath);
    return normalizePath(path, formForLetter(letter));
}

std::string_view parentDirectory(std::string_view normalizedPath) {
    const std::size_t slash = normalizedPath.rfind('/');
    if (slash == std::string_view::npos) return {};
    return slash == 0 ? normalizedPath.substr(0, 1) : normalizedPath.substr(0, slash);
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

bool DirectoryRuleWalk::covers(const std::string* resolvedDirectory) {
    ++place_;
    if (resolvedDirectory == nullptr || !atOrBelow(path_, *resolvedDirectory)) return false;
    exact_ = !strictlyBelow(path_, *resolvedDirectory);
    return true;
}

void DirectoryRuleWalk::apply(const std::string* rights, const std::string* inherit) {
    if (exact_ || (inherit && decodeInherit(*inherit))) {
        answer_ = rights && hasRight(*rights, letter_);
        decidingRule_ = place_ - 1;
    }
}

void DirectoryRuleWalk::restart() {
    answer_ = start_;
    place_ = 0;
    decidingRule_ = -1;
}

bool applyFileRules(bool answer, std::string_view path, const std::optional<std::string>& target,
                    const std::vector<FileRuleRow>& rules, char letter, int* decidingRule,
                    const FileRuleResolver& resolve) {
    if (decidingRule) *decidingRule = -1;
    // An entry keeps its own name, so only a rule of that name can be it.
    const bool entry = letter == 'M' || letter == 'm';
    const std::string_view name =
        target ? std::string_view(*target).substr(target->rfind('/') + 1) : std::string_view();
    const auto sameFile = [&](const std::string& filename) {
        if (!target) return false;
        if (entry) {
            std::string_view given = filename;
            while (given.size() > 1 && given.back() == '/')
                given.remove_suffix(1);
            if (given.substr(given.rfind('/') + 1) != name) return false;
        }
        return (resolve ? resolve(filename) : fileTarget(filename, letter)) == target;
    };
    for (std::size_t place = 0; place < rules.size(); ++place) {
        const FileRuleRow& rule = rules[place];
        if (!rule.filename) continue;
        // The text first: it costs no look at the disk. A path the server
        // passes as the client wrote it (through a link, or with "..")
        // still meets the rule for the file it names.
        if (equalsNoCase(*rule.filename, path) || sameFile(*rule.filename)) {
            answer = rule.rights && hasRight(*rule.rights, letter);
            if (decidingRule) *decidingRule = static_cast<int>(place);
        }
    }
    return answer;
}

}  // namespace kestrix::plugin

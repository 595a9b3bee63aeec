#include "plugin/rule_directory_cache.h"

namespace kestrix::plugin {

RuleDirectoryCache::Check::Check(RuleDirectoryCache& cache, PathForm form)
    : cache_(cache), form_(form), now_(cache.clock_()) {}

std::optional<std::string> RuleDirectoryCache::Check::resolve(const std::string& directory) {
    Entries& entries = cache_.entries(form_);
    const auto found = entries.find(directory);
    if (found != entries.end() && now_ - found->second.at < kLifetime)
        return found->second.resolved;
    std::optional<std::string> resolved;
    if (form_ == PathForm::LongName) {
        if (!fresh_) fresh_.emplace();
        resolved = fresh_->resolve(directory);
    } else {
        resolved = normalizePath(directory, form_);
    }
    if (found != entries.end()) {
        found->second = {resolved, now_};
    } else {
        if (entries.size() >= kMaxEntries) entries.clear();
        entries.emplace(directory, Entry{resolved, now_});
    }
    return resolved;
}

}  // namespace kestrix::plugin

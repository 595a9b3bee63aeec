#include "plugin/rule_directory_cache.h"

namespace kestrix::plugin {

RuleDirectoryCache::Check::Check(RuleDirectoryCache& cache, PathForm form)
    : cache_(cache), form_(form), now_(cache.clock_()) {}

const std::optional<std::string>& RuleDirectoryCache::Check::resolve(const std::string& directory) {
    Entries& entries = cache_.entries(form_);
    auto found = entries.find(directory);
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
        found->second = {std::move(resolved), now_};
    } else {
        if (entries.size() >= kMaxEntries) entries.clear();
        found = entries.emplace(directory, Entry{std::move(resolved), now_}).first;
    }
    return found->second.resolved;
}

}  // namespace kestrix::plugin

#include "plugin/rule_directory_cache.h"

namespace kestrix::plugin {

RuleDirectoryCache::Check::Check(RuleDirectoryCache& cache, PathForm form, Rows rows)
    : cache_(cache), form_(form), rows_(rows), now_(cache.clock_()) {}

const std::optional<std::string>& RuleDirectoryCache::Check::resolve(std::string_view directory) {
    Table& table = cache_.table(form_);
    auto& lastOrder = table.lastOrders[rows_ == Rows::Directories ? 0 : 1];
    const std::size_t place = place_++;
    if (place < lastOrder.size()) {
        Entries::value_type* same = lastOrder[place];
        if (same->first == directory && now_ - same->second.at < kLifetime)
            return same->second.resolved;
    }
    Entries& entries = table.entries;
    ++cache_.lookups_;
    auto found = entries.find(directory);
    if (found == entries.end() || now_ - found->second.at >= kLifetime) {
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
            if (entries.size() >= kMaxEntries) {
                entries.clear();
                for (auto& order : table.lastOrders)
                    order.clear();
            }
            found = entries.emplace(std::string(directory), Entry{std::move(resolved), now_}).first;
        }
    }
    if (place < lastOrder.size())
        lastOrder[place] = &*found;
    else if (place == lastOrder.size())
        lastOrder.push_back(&*found);
    return found->second.resolved;
}

}  // namespace kestrix::plugin

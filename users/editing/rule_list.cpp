#include "users/editing/rule_list.h"

#include <algorithm>
#include <utility>

namespace kestrix::users {

std::optional<std::string> RuleList::selectedText() const {
    if (selected_ < 0 || selected_ >= static_cast<int>(entries_.size())) return std::nullopt;
    return entries_[static_cast<size_t>(selected_)];
}

void RuleList::clear() {
    rules_.clear();
    entries_.clear();
    selected_ = -1;
}

void RuleList::load(DirRule rule) {
    entries_.push_back(rule.directory);
    rules_.push_back(std::move(rule));
}

void RuleList::select(int index) {
    selected_ = index >= 0 && index < static_cast<int>(entries_.size()) ? index : -1;
}

std::optional<RuleList::Shown> RuleList::shownForSelection() const {
    if (!selectedText()) return std::nullopt;
    const DirRule& rule = rules_[static_cast<size_t>(selected_)];
    return Shown{decodeRights(rule.rights), decodeInherit(rule.inherit)};
}

bool RuleList::setSelectedRights(const Rights& rights, bool inherit) {
    if (!selectedText()) return false;
    DirRule& rule = rules_[static_cast<size_t>(selected_)];
    rule.rights = encodeRights(rights);
    rule.inherit = inherit ? "1" : "0";
    return true;
}

void RuleList::add(const std::string& directory) {
    load(DirRule{directory, std::string(kNewRuleRights), std::string(kNewRuleInherit)});
}

bool RuleList::renameSelected(const std::string& newDirectory) {
    if (!selectedText()) return false;
    rules_[static_cast<size_t>(selected_)].directory = newDirectory;
    entries_[static_cast<size_t>(selected_)] = newDirectory;
    return true;
}

bool RuleList::removeSelected() {
    if (!selectedText()) return false;
    rules_.erase(rules_.begin() + selected_);
    entries_.erase(entries_.begin() + selected_);
    selected_ = -1;
    return true;
}

// Every change keeps entries and rules in step, one rule per entry, so an
// entry's index is its rule's index.
bool RuleList::swap(int a, int b) {
    const int size = static_cast<int>(entries_.size());
    if (a < 0 || b < 0 || a >= size || b >= size) return false;
    if (entries_[static_cast<size_t>(selected_)].empty()) return false;
    std::swap(entries_[static_cast<size_t>(a)], entries_[static_cast<size_t>(b)]);
    std::swap(rules_[static_cast<size_t>(a)], rules_[static_cast<size_t>(b)]);
    return true;
}

bool RuleList::moveUp() {
    if (selected_ <= 0 || !swap(selected_ - 1, selected_)) return false;
    --selected_;
    return true;
}

bool RuleList::moveDown() {
    if (selected_ < 0 || !swap(selected_, selected_ + 1)) return false;
    ++selected_;
    return true;
}

}  // namespace kestrix::users

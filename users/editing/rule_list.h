#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/rights.h"

namespace kestrix::users {

// The directory rules of the user being edited together with the entries of
// the rule list that shows them: the working copy that Save writes. Entry i
// shows rule i; rules are told apart by their place, so two rules of one
// directory keep their own rights.
class RuleList {
  public:
    const std::vector<DirRule>& rules() const { return rules_; }
    const std::vector<std::string>& entries() const { return entries_; }
    int selected() const { return selected_; }
    std::optional<std::string> selectedText() const;

    void clear();
    // A rule as loaded from the database.
    void load(DirRule rule);
    void select(int index);  // -1 for none

    // The rights and inheritance the boxes show for the selected rule; none
    // while no rule is selected.
    struct Shown {
        Rights rights;
        bool inherit = false;
    };
    std::optional<Shown> shownForSelection() const;
    // A box of the selected rule changed: the rule takes the boxes' rights
    // and inheritance at once. False while no rule is selected.
    bool setSelectedRights(const Rights& rights, bool inherit);

    // A new rule at the end with rights "RL" and inheritance "1".
    void add(const std::string& directory);
    // The selected rule and its entry get the new directory; rights stay.
    bool renameSelected(const std::string& newDirectory);
    // Removes the selected rule and its entry.
    bool removeSelected();
    // Moves the selected entry, and its rule, one place; the moved entry
    // stays selected. False when it cannot move.
    bool moveUp();
    bool moveDown();

  private:
    bool swap(int a, int b);

    std::vector<DirRule> rules_;
    std::vector<std::string> entries_;
    int selected_ = -1;
};

}  // namespace kestrix::users

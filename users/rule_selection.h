#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "rights.h"

namespace kestrix {

// What the nine rule boxes show for a selected rule.
struct RuleBoxes {
    Rights rights;
    bool inherit = false;

    bool operator==(const RuleBoxes&) const = default;
};

// The boxes for the rule list entry with the given directory: the last rule
// of the set with exactly that directory decides. No value when no rule
// matches (the boxes then keep their state).
std::optional<RuleBoxes> boxesForDirectory(const std::vector<DirRule>& ruleSet,
                                           std::string_view directory);

}  // namespace kestrix

#include "rule_selection.h"

namespace kestrix {

std::optional<RuleBoxes> boxesForDirectory(const std::vector<DirRule>& ruleSet,
                                           std::string_view directory) {
    std::optional<RuleBoxes> boxes;
    for (const DirRule& rule : ruleSet) {
        if (rule.directory == directory)
            boxes = RuleBoxes{decodeRights(rule.rights), decodeInherit(rule.inherit)};
    }
    return boxes;
}

}  // namespace kestrix

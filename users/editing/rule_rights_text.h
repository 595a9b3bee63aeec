#pragma once

#include <string>

#include "core/rights.h"

namespace kestrix::users {

// A rule's rights as the rule listings print them: the stored letters as
// they are, and whether the rule reaches into sub-directories.
struct RuleRightsText {
    std::string letters;
    bool inherited = false;
    // "inherit" or "-".
    std::string inheritWord() const { return inherited ? "inherit" : "-"; }
};

RuleRightsText ruleRightsText(const DirRule& rule);

}  // namespace kestrix::users

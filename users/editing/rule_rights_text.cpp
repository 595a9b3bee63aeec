#include "users/editing/rule_rights_text.h"

namespace kestrix::users {

RuleRightsText ruleRightsText(const DirRule& rule) {
    return RuleRightsText{rule.rights, decodeInherit(rule.inherit)};
}

}  // namespace kestrix::users

#include "policies/logic/number_checks.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "shell/app_title.h"

namespace kestrix::policies {

bool numericKeyAccepted(char32_t key) {
    return key < 31 || (key >= 46 && key <= 57);
}

bool addressKeyAccepted(char32_t key) {
    return numericKeyAccepted(key) || key == U'*' || key == U'-';
}

}  // namespace kestrix::policies

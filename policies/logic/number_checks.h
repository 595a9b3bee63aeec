#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "shell/number_rules.h"

namespace kestrix::policies {

// The key filter of the numeric boxes: control keys (code below 31) and
// "." "/" and the digits (46 to 57) pass; anything else is dropped. It
// guards typing only: pasted text is checked again before it is written.
bool numericKeyAccepted(char32_t key);
// The address box also takes "*" and "-", for patterns and ranges.
bool addressKeyAccepted(char32_t key);

}  // namespace kestrix::policies

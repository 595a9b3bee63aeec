#pragma once

#include <string>
#include <string_view>

#include "shell/message_boxes.h"

namespace kestrix::policies {

// The key filter of the numeric boxes: control keys (code below 31) and
// "." "/" and the digits (46 to 57) pass; anything else is dropped. It
// guards typing only: pasted text is checked again before it is written.
bool numericKeyAccepted(char32_t key);
// The address box also takes "*" and "-", for patterns and ranges.
bool addressKeyAccepted(char32_t key);

// Digits only, with an optional leading minus: what may stand unquoted in
// a statement where the column holds a whole number.
bool isWholeNumber(std::string_view text);
// A plain decimal number ("12", "0.5", ".5"); no sign, exponent or
// separators.
bool isDecimalNumber(std::string_view text);

// "The value in the <field> field must be a number."
Message notANumber(const std::string& field);

}  // namespace kestrix::policies

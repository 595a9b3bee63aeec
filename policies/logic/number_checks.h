#pragma once

#include <optional>
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

// What a number box may hold: the values the column and the server take
// and that mean something for the setting.
struct NumberRange {
    std::string field;  // the box's words in the message
    double lowest;
    double highest;
    bool whole = true;      // a count or minutes: no fraction
    std::string unit = {};  // shown after the bounds when the box has one
};

// The refusal for a text that isNumber already accepted but that lies
// outside the range (or has a fraction where a whole number belongs):
// "The value in the <field> field must be a whole number from <lowest> to
// <highest>." No value when it fits.
std::optional<Message> outOfRange(std::string_view text, const NumberRange& range);

// The largest byte count every engine keeps exactly (2^53: SQLite's and a
// double's exact whole numbers), the ceiling of quotas and byte credits.
inline constexpr double kLargestByteCount = 9007199254740992.0;

}  // namespace kestrix::policies

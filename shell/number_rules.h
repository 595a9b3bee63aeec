#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "shell/message_boxes.h"

namespace kestrix {

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
    int decimals = 3;       // the most digits after the point, when not whole
};

// The refusal for a text that is a number but lies outside the range (or
// has a fraction where a whole number belongs): "The value in the <field>
// field must be a whole number from <lowest> to <highest>." No value when
// it fits.
std::optional<Message> outOfRange(std::string_view text, const NumberRange& range);

// What a number box takes while it is typed into or pasted into: digits,
// and where fractions belong one point with at most `decimals` digits after
// it, no more whole digits than the highest value has. Empty passes. No
// value when the text may stand; otherwise why not, in a sentence naming
// the field.
std::optional<std::string> untypableNumber(std::string_view text, const NumberRange& range);

// What the box takes, in words: "a whole number from 0 to 999".
std::string describeRange(const NumberRange& range);

// The largest byte count every engine keeps exactly (2^53: SQLite's and a
// double's exact whole numbers), the ceiling of quotas and byte credits.
inline constexpr double kLargestByteCount = 9007199254740992.0;

}  // namespace kestrix

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrix::plugin {

// A stored column value, as the database gives it in text, read as a whole
// number: "42", "-7", and a real that the engine wrote for a whole number
// ("42.0", "4.2e+1"). No value for anything else (a fraction included).
std::optional<long long> storedWhole(std::string_view text);
// The same as a real number ("3.25", "1.7e+308").
std::optional<double> storedReal(std::string_view text);

// The leading numeric part of a text sent by the server: blanks skipped,
// an optional sign, digits with an optional fraction and exponent. 0 when
// there is none (or when it is out of the range of a double).
double leadingReal(std::string_view text);
// The leading whole number of such a text (blanks, optional sign, digits):
// 0 when there is none, no value when it does not fit in 64 bits.
std::optional<long long> leadingWhole(std::string_view text);

}  // namespace kestrix::plugin

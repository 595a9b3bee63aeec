#pragma once

#include <cstddef>
#include <string_view>

namespace kestrix {

// How many characters of the text equal ch.
std::size_t countChar(std::string_view text, char ch);

// The number that the leading numeric part of a text forms: blanks before
// it skipped, then an optional sign, digits, a fraction and an exponent.
// A text without one reads as 0.
double leadingNumber(std::string_view text);

// The current time in seconds with fractions. It only ever increases, also
// across midnight, year ends and changes of the wall clock, so differences
// between two readings measure elapsed time.
double clockSeconds();

}  // namespace kestrix

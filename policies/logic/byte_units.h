#pragma once

#include <string>

namespace kestrix::policies {

inline constexpr double kKilobyte = 1024;
inline constexpr double kMegabyte = 1048576;

// Rounded to 3 decimal places, a half to the even neighbour.
double roundTo3(double value);

// A number as it stands in a statement or a box: decimal text with a period,
// no thousands separators, no exponent, up to 15 significant digits.
std::string decimalText(double value);

}  // namespace kestrix::policies

#include "policies/logic/byte_units.h"

#include <charconv>
#include <cmath>

namespace kestrix::policies {

double roundTo3(double value) {
    // The default rounding mode takes a half to the even neighbour.
    return std::nearbyint(value * 1000) / 1000;
}

std::string decimalText(double value) {
    if (value == 0 || !std::isfinite(value)) return "0";
    const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::max(0, 14 - magnitude);
    char buffer[400];
    // to_chars writes the period whatever the locale.
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals)
            .ptr;
    std::string text(buffer, end);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") return "0";
    return text;
}

}  // namespace kestrix::policies

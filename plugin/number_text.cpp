#include "plugin/number_text.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace kestrix::plugin {

namespace {

std::string_view skipBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

// from_chars takes no leading '+'.
std::string_view dropPlus(std::string_view text) {
    if (!text.empty() && text.front() == '+' && text.size() > 1 && text[1] != '-')
        text.remove_prefix(1);
    return text;
}

bool isWholeDoubleInRange(double value) {
    // Strictly inside the range of long long, so the conversion is defined.
    return std::isfinite(value) && value > -9.2233720368547e18 && value < 9.2233720368547e18;
}

}  // namespace

std::optional<long long> storedWhole(std::string_view text) {
    long long whole = 0;
    const char* end = text.data() + text.size();
    const auto parsed = std::from_chars(text.data(), end, whole);
    if (parsed.ec == std::errc() && parsed.ptr == end) return whole;
    const auto real = storedReal(text);
    if (!real || !isWholeDoubleInRange(*real) || std::floor(*real) != *real) return std::nullopt;
    return static_cast<long long>(*real);
}

std::optional<double> storedReal(std::string_view text) {
    double real = 0;
    const char* end = text.data() + text.size();
    const auto parsed = std::from_chars(text.data(), end, real);
    if (parsed.ec != std::errc() || parsed.ptr != end || !std::isfinite(real)) return std::nullopt;
    return real;
}

double leadingReal(std::string_view text) {
    text = dropPlus(skipBlanks(text));
    // Only the plain decimal forms: "inf", "nan" and hex are not numbers here.
    const std::size_t start = !text.empty() && text.front() == '-' ? 1 : 0;
    if (text.size() <= start ||
        !(std::isdigit(static_cast<unsigned char>(text[start])) || text[start] == '.')) {
        return 0;
    }
    double value = 0;
    const auto parsed =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (parsed.ec != std::errc() || !std::isfinite(value)) return 0;
    return value;
}

std::optional<long long> leadingWhole(std::string_view text) {
    text = dropPlus(skipBlanks(text));
    long long value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    if (parsed.ec == std::errc::result_out_of_range) return std::nullopt;
    if (parsed.ec != std::errc()) return 0;
    return value;
}

}  // namespace kestrix::plugin

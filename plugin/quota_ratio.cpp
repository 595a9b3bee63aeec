#include "plugin/quota_ratio.h"

#include <algorithm>
#include <charconv>

namespace kestrix::plugin {

QuotaChange applyQuotaAmount(std::optional<long long> current, long long maximum,
                             long long amount) {
    if (maximum < 0) return {};
    const long long start = std::clamp(current.value_or(maximum), 0LL, maximum);
    long long value = 0;
    if (__builtin_sub_overflow(start, amount, &value)) return {};
    if (value < 0) value = 0;
    if (value > maximum) return {};
    return {true, value};
}

std::optional<long long> readableQuota(std::optional<long long> current,
                                       std::optional<long long> maximum) {
    if (!current) return maximum;
    if (!maximum) return current;
    return std::min(*current, *maximum);
}

std::string formatCredit(double credit) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, credit, std::chars_format::general, 5);
    std::string text(buffer, result.ptr);
    // The general form drops the point of a whole number; the answer keeps
    // it with one zero after it.
    if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
    return text;
}

}  // namespace kestrix::plugin

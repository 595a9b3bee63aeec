#pragma once

#include <optional>
#include <string>

namespace kestrix::plugin {

// A stored quota or limit of this value counts as no value.
inline constexpr long long kNoValue = 2147483647;
// A ratio part of this value counts as no value.
inline constexpr long long kNoRatioPart = 65535;
// A stored ratio credit of this value counts as no credit.
inline constexpr double kNoCredit = 1.7e308;

// The outcome of taking an amount off the remaining quota.
struct QuotaChange {
    bool accepted = false;
    long long newValue = 0;
};

// The remaining quota after the amount (bytes stored; negative for bytes
// freed). An empty remaining quota counts as the maximum, and one above the
// maximum (left there when the maximum was lowered) as the maximum. The
// result is kept at 0 or more; a result above the maximum, or one that does
// not fit in 64 bits, is refused.
[[nodiscard]] QuotaChange applyQuotaAmount(std::optional<long long> current, long long maximum,
                                           long long amount);

// The remaining quota the server is told: the stored one, no more than the
// maximum; the maximum when none is stored.
[[nodiscard]] std::optional<long long> readableQuota(std::optional<long long> current,
                                                     std::optional<long long> maximum);

// The credit in the general number form with at most five significant
// digits; a whole number keeps a fraction (3 gives "3.0"). Independent of
// the process locale.
[[nodiscard]] std::string formatCredit(double credit);

}  // namespace kestrix::plugin

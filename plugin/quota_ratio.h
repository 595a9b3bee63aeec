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

// The outcome of taking an amount off the current quota value.
struct QuotaChange {
    bool accepted = false;
    long long newValue = 0;
};

// New value = current - amount, a negative result becoming 0; accepted
// when the new value does not exceed the maximum. An amount whose result
// does not fit in 64 bits is refused.
QuotaChange applyQuotaAmount(long long current, long long maximum, long long amount);

// The credit in the general number form with at most five significant
// digits; a whole number keeps a fraction (3 gives "3.0"). Independent of
// the process locale.
std::string formatCredit(double credit);

}  // namespace kestrix::plugin

#pragma once

#include <optional>

namespace kestrix {

// A user's disk quota as stored: whether it counts, its maximum and the
// bytes it can still take (no value for an empty column or 2147483647).
struct QuotaSetting {
    bool inUse = false;
    std::optional<long long> maximum;
    std::optional<long long> remaining;
};

// The remaining quota to store when the quota dialog turns `stored` into
// `edited` (whose remaining is ignored): switching the quota on starts it
// at the maximum; a changed maximum moves it by the difference, kept within
// 0 ... the new maximum. Anything else keeps the stored remaining.
[[nodiscard]] std::optional<long long> remainingAfterEdit(const QuotaSetting& stored,
                                                          const QuotaSetting& edited);

}  // namespace kestrix

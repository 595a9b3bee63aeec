#include "core/quota_remaining.h"

#include <algorithm>

namespace kestrix {

std::optional<long long> remainingAfterEdit(const QuotaSetting& stored,
                                            const QuotaSetting& edited) {
    if (!edited.inUse || !edited.maximum) return stored.remaining;
    const long long maximum = std::max(0LL, *edited.maximum);
    // Switched on, or on without a maximum until now: nothing counted yet.
    if (!stored.inUse || !stored.maximum) return maximum;
    if (*stored.maximum == maximum) return stored.remaining;
    // An empty remaining quota reads as the whole maximum.
    const long long remaining = stored.remaining.value_or(*stored.maximum);
    // Wide enough that no stored value can overflow the sum.
    const __int128 moved = static_cast<__int128>(remaining) + maximum - *stored.maximum;
    return static_cast<long long>(std::clamp<__int128>(moved, 0, maximum));
}

}  // namespace kestrix

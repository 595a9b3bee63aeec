// The remaining quota the quota dialog stores with a changed setting.
#include <gtest/gtest.h>

#include <limits>

#include "core/quota_remaining.h"

namespace kestrix {
namespace {

TEST(QuotaRemaining, SwitchingOnStartsAtTheMaximum) {
    // As created: off, nothing remaining; every upload would be refused.
    EXPECT_EQ(remainingAfterEdit({false, std::nullopt, 0}, {true, 1000, std::nullopt}), 1000);
    EXPECT_EQ(remainingAfterEdit({false, 1000, 0}, {true, 1000, 0}), 1000);
    // On, but without a maximum until now.
    EXPECT_EQ(remainingAfterEdit({true, std::nullopt, 0}, {true, 500, 0}), 500);
    // Switched off, or on without a maximum: the stored value stays.
    EXPECT_EQ(remainingAfterEdit({true, 1000, 300}, {false, 1000, 0}), 300);
    EXPECT_EQ(remainingAfterEdit({false, 1000, 300}, {true, std::nullopt, 0}), 300);
    EXPECT_EQ(remainingAfterEdit({true, 1000, std::nullopt}, {true, 1000, 0}), std::nullopt);
}

TEST(QuotaRemaining, AChangedMaximumMovesTheRemainderByTheDifferenceWithinIt) {
    EXPECT_EQ(remainingAfterEdit({true, 1000, 300}, {true, 1500, 0}), 800);
    EXPECT_EQ(remainingAfterEdit({true, 1000, 300}, {true, 800, 0}), 100);
    EXPECT_EQ(remainingAfterEdit({true, 1000, 300}, {true, 500, 0}), 0);
    // A remainder left above the maximum comes down to the new one.
    EXPECT_EQ(remainingAfterEdit({true, 1000, 5000}, {true, 2000, 0}), 2000);
    // An empty remainder is the whole old maximum.
    EXPECT_EQ(remainingAfterEdit({true, 1000, std::nullopt}, {true, 1200, 0}), 1200);
    EXPECT_EQ(remainingAfterEdit({true, 1000, std::nullopt}, {true, 600, 0}), 600);
    // No overflow at the ends of the range.
    constexpr long long kMax = std::numeric_limits<long long>::max();
    EXPECT_EQ(remainingAfterEdit({true, 0, kMax}, {true, kMax, 0}), kMax);
    EXPECT_EQ(remainingAfterEdit({true, kMax, 0}, {true, 1, 0}), 0);
    EXPECT_EQ(remainingAfterEdit({true, 1000, 300}, {true, -5, 0}), 0);
}

}  // namespace
}  // namespace kestrix

// Overflow-checked size arithmetic: every result either fits its type
// exactly or the call says false and leaves the output alone.
#include "base/checked.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstdint>

namespace {

TEST(CheckedArithmetic, ResultsThatFitAreExact) {
    std::uint32_t u = 0;
    // 65535 x 65537 = 2^32 - 1, the largest value a u32 holds.
    EXPECT_TRUE(checked_mul(65535u, 65537u, u));
    EXPECT_EQ(u, 0xFFFFFFFFu);
    long long s = 0;
    EXPECT_TRUE(checked_add(LLONG_MAX - 5, 5, s));
    EXPECT_EQ(s, LLONG_MAX);
    EXPECT_TRUE(checked_sub(-3, 4, s));
    EXPECT_EQ(s, -7);
    std::size_t bytes = 0;
    EXPECT_TRUE(checked_mul(640, 480, 4, bytes));
    EXPECT_EQ(bytes, 1228800u);
}

TEST(CheckedArithmetic, DetectsOverflowAndLeavesTheOutputAlone) {
    std::uint32_t u = 123;
    EXPECT_FALSE(checked_mul(65536u, 65536u, u));  // 2^32
    EXPECT_FALSE(checked_add(0xFFFFFFFFu, 1u, u));
    EXPECT_FALSE(checked_sub(0u, 1u, u));  // below zero in an unsigned result
    EXPECT_EQ(u, 123u);
    long long s = 9;
    EXPECT_FALSE(checked_add(LLONG_MAX, 1, s));
    EXPECT_FALSE(checked_mul(LLONG_MIN, -1, s));
    EXPECT_EQ(s, 9);
}

TEST(CheckedArithmetic, ThreeFactorsFailWhenAnyPartialProductOverflows) {
    std::uint32_t out = 7;
    // 4096 x 4096 fits, x 256 is 2^32.
    EXPECT_FALSE(checked_mul(4096u, 4096u, 256u, out));
    // The first product already overflows, whatever the third factor.
    EXPECT_FALSE(checked_mul(0x10000u, 0x10000u, 0u, out));
    EXPECT_EQ(out, 7u);
}

TEST(CheckedArithmetic, NegativeValuesDoNotFitAnUnsignedResult) {
    std::size_t out = 5;
    EXPECT_FALSE(checked_add(-10, 3, out));
    EXPECT_FALSE(checked_mul(-2, 3, out));
    EXPECT_EQ(out, 5u);
}

TEST(RangeInside, AcceptsRangesUpToTheEndAndRefusesNegativeWrappingOrSizeless) {
    EXPECT_TRUE(range_inside(0, 10, 10));
    EXPECT_TRUE(range_inside(10, 0, 10));  // an empty range at the end
    EXPECT_TRUE(range_inside(std::size_t{3}, std::size_t{7}, std::size_t{10}));
    EXPECT_FALSE(range_inside(3, 8, 10));
    EXPECT_FALSE(range_inside(11, 0, 10));
    EXPECT_FALSE(range_inside(-1, 2, 10));
    EXPECT_FALSE(range_inside(2, -1, 10));
    EXPECT_FALSE(range_inside(ULLONG_MAX, 2ULL, ULLONG_MAX));  // offset + length wraps
    EXPECT_FALSE(range_inside(2ULL, ULLONG_MAX - 1, ULLONG_MAX));
    // A stream reports a failed size as -1; as an unsigned value it would
    // admit every range.
    EXPECT_FALSE(range_inside(0, 0, -1));
    EXPECT_FALSE(range_inside(100, 50, -1LL));
}

}  // namespace

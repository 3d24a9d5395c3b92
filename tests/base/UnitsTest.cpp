// The shared units' wrapping and the saturating conversions, against the
// plain definitions: the non-negative remainder, and clamping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "base/Saturate.h"
#include "base/Units.h"

namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

// The plain way: the remainder brought into [0, limit).
int64_t Remainder(int64_t value, int64_t limit) {
    return ((value % limit) + limit) % limit;
}

TEST(Units, WrapCoordinateAndAngleGiveTheRemainder) {
    for (int32_t limit : {1, 3, 64 << 10, 2560, 4096 << 10}) {
        for (int64_t value : {int64_t{0}, int64_t{-1}, int64_t{limit} - 1, int64_t{limit},
                              int64_t{limit} + 5, int64_t{-limit} - 7, int64_t{limit} * 5 + 3,
                              int64_t{-limit} * 9 + 2, int64_t{kMax}, int64_t{kMin}}) {
            SCOPED_TRACE(testing::Message() << value << " in " << limit);
            EXPECT_EQ(WrapCoordinate(value, limit), Remainder(value, limit));
            EXPECT_EQ(WrapAngle(value, limit), Remainder(value, limit));
        }
    }
}

TEST(Saturate, IntegersClampAndPassThrough) {
    EXPECT_EQ(SaturateInt32(0), 0);
    EXPECT_EQ(SaturateInt32(-5), -5);
    EXPECT_EQ(SaturateInt32(kMax), kMax);
    EXPECT_EQ(SaturateInt32(int64_t{kMax} + 1), kMax);
    EXPECT_EQ(SaturateInt32(kMin), kMin);
    EXPECT_EQ(SaturateInt32(int64_t{kMin} - 1), kMin);
    EXPECT_EQ(SaturateInt32(std::numeric_limits<int64_t>::min()), kMin);
    EXPECT_EQ(SaturateInt32(std::numeric_limits<int64_t>::max()), kMax);
}

TEST(Saturate, DoublesTruncateTowardZeroAndSaturate) {
    EXPECT_EQ(TruncateToInt32(2.9), 2);
    EXPECT_EQ(TruncateToInt32(-2.9), -2);
    EXPECT_EQ(TruncateToInt32(2147483647.9), kMax);
    EXPECT_EQ(TruncateToInt32(2147483648.0), kMax);
    EXPECT_EQ(TruncateToInt32(-2147483648.9), kMin);
    EXPECT_EQ(TruncateToInt32(-2147483649.0), kMin);
    EXPECT_EQ(TruncateToInt32(1e300), kMax);
    EXPECT_EQ(TruncateToInt32(-std::numeric_limits<double>::infinity()), kMin);
    EXPECT_EQ(TruncateToInt32(std::nan("")), 0);
}

}  // namespace

namespace {

// The plain way: the nearest of from + (to - from) x f / 65536, halves up,
// computed exactly in 64 bits.
int64_t NearestPart(int64_t from, int64_t step, int64_t fraction) {
    const int64_t scaled = step * fraction;
    int64_t floor = scaled / 65536;
    if (scaled % 65536 != 0 && scaled < 0) --floor;
    const int64_t rest = scaled - floor * 65536;
    return from + floor + (rest >= 32768 ? 1 : 0);
}

TEST(Units, InterpolateRoundsToTheNearestAndStartsExactly) {
    for (int32_t from : {0, 1000, -1000, 5362, kMin / 2}) {
        for (int32_t to : {0, 1, -1, 999, 2000, kMax / 2}) {
            for (int32_t fraction : {0, 1, 32767, 32768, 65535}) {
                SCOPED_TRACE(testing::Message() << from << " " << to << " " << fraction);
                EXPECT_EQ(Interpolate(from, to, fraction),
                          NearestPart(from, int64_t{to} - from, fraction));
            }
        }
        EXPECT_EQ(Interpolate(from, 12345, 0), from);
    }
}

TEST(Units, InterpolateWrappedGoesTheShortWayRound) {
    const int32_t side = 64 << 10;
    // Across the edge: from just below the side to just past 0.
    EXPECT_EQ(InterpolateWrapped(side - 100, 100, 32768, side), 0);
    EXPECT_EQ(InterpolateWrapped(100, side - 100, 32768, side), 0);
    EXPECT_EQ(InterpolateWrapped(side - 100, 100, 0, side), side - 100);
    // A heading across a full turn: 2550 to 10 is 20 units forward.
    EXPECT_EQ(InterpolateWrapped(2550, 10, 16384, 2560), 2555);
    EXPECT_EQ(InterpolateWrapped(10, 2550, 16384, 2560), 5);
    for (int32_t from = 0; from < 2560; from += 97) {
        for (int32_t to = 0; to < 2560; to += 89) {
            for (int32_t fraction : {0, 12345, 40000, 65535}) {
                int64_t step = ((int64_t{to} - from) % 2560 + 2560) % 2560;
                if (step >= 1280) step -= 2560;
                const int32_t expected =
                    static_cast<int32_t>(Remainder(NearestPart(from, step, fraction), 2560));
                ASSERT_EQ(InterpolateWrapped(from, to, fraction, 2560), expected)
                    << from << " " << to << " " << fraction;
            }
        }
    }
}

}  // namespace

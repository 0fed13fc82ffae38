#include "core/fixed_point.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace pulsaro {
namespace {

constexpr Fixed kMax = std::numeric_limits<Fixed>::max();
constexpr Fixed kMin = std::numeric_limits<Fixed>::min();
constexpr long double kInf = std::numeric_limits<long double>::infinity();

TEST(RoundEven, HalvesGoToTheEvenNeighbour) {
    const std::pair<long double, Fixed> cases[] = {{0.5L, 0},
                                                   {1.5L, 2},
                                                   {2.5L, 2},
                                                   {-1.5L, -2},
                                                   {-2.5L, -2},
                                                   {2.49L, 2},
                                                   {-2.51L, -3},
                                                   // A fraction a double could not hold.
                                                   {4503599627370497.5L, 4503599627370498},
                                                   {-9223372036854775808.0L, kMin}};
    for (const auto& [x, expected] : cases) {
        EXPECT_EQ(roundEven(x), expected) << static_cast<double>(x);
    }
}

TEST(Arithmetic, FailuresThrowInsteadOfWrapping) {
    const long double unfit[] = {kInf, -kInf, std::numeric_limits<long double>::quiet_NaN(),
                                 9223372036854775808.0L, -1e19L};
    for (const long double x : unfit) {
        EXPECT_THROW(roundEven(x), ArithmeticError) << static_cast<double>(x);
    }
    EXPECT_THROW(divide(1.0L, 0.0L), ArithmeticError);
    EXPECT_THROW(divide(std::numeric_limits<long double>::max(), 0.5L), ArithmeticError);
    EXPECT_THROW(addFixed(kMax, 1), ArithmeticError);
    EXPECT_THROW(addFixed(kMin, -1), ArithmeticError);
    EXPECT_EQ(addFixed(kMax - 1, 1), kMax);
    EXPECT_THROW(microsecondsFromCounts(kMax / 1'000'000 + 1, 1), ArithmeticError);
    EXPECT_THROW(microsecondsFromCounts(1, 0), ArithmeticError);
    EXPECT_THROW(tempoFromElapsed(1, 0), ArithmeticError);
    EXPECT_THROW(meanOf(1, 0), ArithmeticError);
}

TEST(Arithmetic, CountsBecomeMicroseconds) {
    struct Case {
        std::int64_t delta, frequency, expected;
    };
    // 0.5 us and 1.5 us round to even.
    const Case cases[] = {
        {4'700'000, 10'000'000, 470'000}, {1, 3, 333'333}, {1, 2'000'000, 0}, {3, 2'000'000, 2}};
    for (const auto& c : cases) {
        EXPECT_EQ(microsecondsFromCounts(c.delta, c.frequency), c.expected) << c.delta;
    }
}

// Taps 0.47 s apart, then 1.405 s after the first for three intervals.
TEST(Arithmetic, TapSequenceGivesDocumentedTempos) {
    struct Case {
        std::int64_t microseconds;
        Fixed elapsed;
        std::int32_t intervals;
        Fixed tempo;
    };
    const Case cases[] = {{470'000, 4700, 1, 1'276'596},
                          {940'000, 9400, 2, 1'276'596},
                          {1'405'000, 14050, 3, 1'281'139},
                          {500'000, 5000, 1, 1'200'000}};
    for (const auto& c : cases) {
        EXPECT_EQ(elapsedFromMicroseconds(c.microseconds), c.elapsed);
        EXPECT_EQ(tempoFromElapsed(c.intervals, c.elapsed), c.tempo);
    }
    EXPECT_EQ(meanOf(1'276'596 + 1'276'596 + 1'281'139, 3), 1'278'110);
    EXPECT_EQ(meanOf(5, 2), 2);
}

TEST(Arithmetic, PauseBetweenTicks) {
    struct Case {
        std::uint64_t now, last;
        Fixed expected;
    };
    constexpr std::uint64_t kHuge = 10'000'000'000'000'000;  // times 10000 exceeds 64 bits
    const Case cases[] = {{12'500, 10'000, 25'000},
                          {12'499, 10'000, 24'990},
                          {10'000, 12'500, -25'000},
                          {kHuge + 2'500, kHuge, 25'000}};
    for (const auto& c : cases) {
        EXPECT_EQ(pauseFromTicks(c.now, c.last), c.expected) << c.now << " " << c.last;
    }
}

}  // namespace
}  // namespace pulsaro

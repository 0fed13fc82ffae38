#include "core/tempo_math.h"

#include <gtest/gtest.h>

#include "separators.h"

#include <array>
#include <iterator>
#include <string>

namespace pulsaro {
namespace {

using testing::kSeparators;
using testing::withSeparator;

TEST(PitchRange, ShowsWholeBpmAroundTheTempo) {
    struct Case {
        int percent;
        Fixed tempo;
        const char* expected;
    };
    const Case cases[] = {{8, 1'200'000,
                           "Pitchrange(\xC2\xB1"
                           "8%): 110 - 130"},
                          {8, 1'276'596,
                           "Pitchrange(\xC2\xB1"
                           "8%): 117 - 138"},
                          {8, 1'281'139,
                           "Pitchrange(\xC2\xB1"
                           "8%): 118 - 138"},
                          {16, 1'000'000,
                           "Pitchrange(\xC2\xB1"
                           "16%): 84 - 116"}};
    for (const auto sep : kSeparators) {
        for (const auto& c : cases) {
            EXPECT_EQ(pitchRangeText(c.percent, c.tempo, sep), c.expected);
        }
    }
}

TEST(RoundedTempo, SnapsToWholeOrHalfBpm) {
    const std::pair<Fixed, const char*> cases[] = {
        {1'200'000, "120"},   {1'202'949, "120"}, {1'202'950, "120.5"}, {1'207'949, "120.5"},
        {1'207'950, "121"},   {453'000, "45.5"},  {458'000, "46"},      {1'279'960, "128"},
        {1'276'596, "127.5"}, {1'281'139, "128"}, {5'000, "0.5"}};
    for (const auto sep : kSeparators) {
        for (const auto& [tempo, expected] : cases) {
            EXPECT_EQ(halfRoundedText(tempo, sep), withSeparator(expected, sep)) << tempo;
        }
        EXPECT_EQ(wholeRoundedText(1'265'000, sep), "127");
        EXPECT_EQ(wholeRoundedText(1'264'999, sep), "126");
    }
}

TEST(Mpm, DividesTheTempo) {
    for (const auto sep : kSeparators) {
        const MpmTexts t = mpmTexts(1'276'596, sep);
        EXPECT_EQ(t.bpm, withSeparator("BPM: 127.7", sep));
        const std::string measures[] = {t.half, t.twoThirds, t.third, t.quarter, t.eighth};
        const std::string expected[] = {"=64", "=85", "=43", "=32", "=16"};
        for (std::size_t i = 0; i < std::size(expected); ++i) {
            EXPECT_EQ(measures[i], expected[i]) << i;
        }
    }
}

TEST(Delay, MillisecondsPerNoteAt120Bpm) {
    const std::pair<bool, std::array<const char*, kDelayRows>> cases[] = {
        {false, {"1000", "500", "250", "125", "62.5", "31.25", "15.625"}},
        {true, {"666.667", "333.333", "166.667", "83.333", "41.667", "20.833", "10.417"}}};
    for (const auto sep : kSeparators) {
        for (const auto& [triplets, expected] : cases) {
            const auto texts = delayTexts(triplets, 1'200'000, sep);
            for (std::size_t i = 0; i < kDelayRows; ++i) {
                EXPECT_EQ(texts[i], withSeparator(expected[i], sep)) << i << " " << triplets;
            }
        }
        EXPECT_EQ(delayBoxText(1'276'596, sep), withSeparator("127.7", sep));
        EXPECT_EQ(delayBoxText(1'200'000, sep), "120");
    }
    EXPECT_THROW(delayTexts(false, 0, "."), ArithmeticError);
}

// Odd tempos: up to three decimals, trailing zeros dropped, the last digit
// rounded from the full quotient (1875 / 127.6596 = 14.68749...).
TEST(Delay, OddTemposKeepThreeSignificantDecimals) {
    const std::pair<Fixed, std::array<const char*, kDelayRows>> cases[] = {
        {1'276'596, {"940", "470", "235", "117.5", "58.75", "29.375", "14.687"}},
        {970'000, {"1237.113", "618.557", "309.278", "154.639", "77.32", "38.66", "19.33"}},
        {2'500'000, {"480", "240", "120", "60", "30", "15", "7.5"}}};
    for (const auto sep : kSeparators) {
        for (const auto& [tempo, expected] : cases) {
            const auto texts = delayTexts(false, tempo, sep);
            for (std::size_t i = 0; i < kDelayRows; ++i) {
                EXPECT_EQ(texts[i], withSeparator(expected[i], sep)) << tempo << " row " << i;
            }
        }
    }
}

}  // namespace
}  // namespace pulsaro

#include "core/number_format.h"

#include <gtest/gtest.h>

#include "separators.h"

#include <limits>
#include <string>

namespace pulsaro {
namespace {

using testing::kSeparators;
using testing::withSeparator;

TEST(FormatPattern, FormatsWithEitherSeparator) {
    struct Case {
        long double value;
        const char* pattern;
        const char* expected;
    };
    const Case cases[] = {{127.6596L, "0.#", "127.7"},
                          {120.0L, "0.#", "120"},
                          {127.96L, "0.#", "128"},
                          {1000.0L, "0.###", "1000"},
                          {2000.0L / 3.0L, "0.###", "666.667"},
                          {62.5L, "0.###", "62.5"},
                          {15.625L, "0.###", "15.625"},
                          {0.0004L, "0.###", "0"},
                          {63.8298L, "=0", "=64"},
                          {0.5L, "=0", "=1"},
                          {2.5L, "0", "3"},
                          {127.5L, "BPM: 0.0", "BPM: 127.5"},
                          {127.66L, "Avg: 0.0", "Avg: 127.7"},
                          {0.47L, " 00.00", " 00.47"},
                          {12.3L, " 00.00", " 12.30"},
                          {123.4L, " 00.00", " 123.40"},
                          {9.996L, " 00.00", " 10.00"},
                          {0.5L, ".0", ".5"},
                          {0.04L, ".0", ".0"},
                          {127.66L, ".00", "127.66"},
                          // Just below the half in binary, exactly the half in 18 digits.
                          {1.405L, " 00.00", " 01.41"},
                          // A minus only when something non-zero is shown.
                          {-2.5L, "0", "-3"},
                          {-127.66L, "0.#", "-127.7"},
                          {-0.5L, ".0", "-.5"},
                          {-0.004L, "0.00", "0.00"}};
    for (const auto sep : kSeparators) {
        for (const auto& c : cases) {
            EXPECT_EQ(formatPattern(c.value, c.pattern, sep), withSeparator(c.expected, sep))
                << c.pattern << " " << static_cast<double>(c.value) << " sep " << sep;
        }
    }
}

TEST(FormatDecimals, RoundsHalvesAwayFromZero) {
    struct Case {
        long double value;
        int decimals;
        const char* expected;
    };
    const Case cases[] = {{117.4468L, 0, "117"}, {137.8724L, 0, "138"}, {127.6596L, 1, "127.7"},
                          {0.5L, 0, "1"},        {127.65L, 1, "127.7"}, {-2.5L, 0, "-3"},
                          {0.04L, 1, "0.0"},     {99.96L, 1, "100.0"},  {1000.0L, 2, "1000.00"}};
    for (const auto sep : kSeparators) {
        for (const auto& c : cases) {
            EXPECT_EQ(formatDecimals(c.value, c.decimals, sep), withSeparator(c.expected, sep))
                << static_cast<double>(c.value) << " sep " << sep;
        }
    }
}

TEST(Format, RejectsUnsupportedInput) {
    for (const char* pattern : {"", "abc", "0.0.0", "0x0"}) {
        EXPECT_THROW(formatPattern(1.0L, pattern, "."), std::invalid_argument) << pattern;
    }
    EXPECT_THROW(formatPattern(std::numeric_limits<long double>::infinity(), "0", "."),
                 ArithmeticError);
    EXPECT_THROW(formatDecimals(std::numeric_limits<long double>::quiet_NaN(), 1, "."),
                 ArithmeticError);
    EXPECT_THROW(formatDecimals(1.0L, -1, "."), std::invalid_argument);
}

TEST(ParseNumber, ReadsNumbersWrittenWithTheSeparator) {
    const std::pair<const char*, long double> cases[] = {
        {"127.66", 127.66L}, {" 12.5 ", 12.5L},  {"-3", -3.0L},   {"+4.", 4.0L},
        {".5", 0.5L},        {"1.5E-2", 0.015L}, {"2e+1", 20.0L}, {"1e-5000", 0.0L}};
    for (const auto sep : kSeparators) {
        for (const auto& [raw, expected] : cases) {
            const std::string text = withSeparator(raw, sep);
            EXPECT_EQ(parseNumber(text, sep), expected) << text;
            EXPECT_TRUE(isNumeric(text, sep)) << text;
        }
    }
}

TEST(ParseNumber, RejectsWhatIsNotANumber) {
    const char* const texts[] = {"",    "  ",  ".",   "-",    "1.2.3", "1e",     "e5",
                                 "1e+", "--1", "1 2", "0x10", "1.5x",  "1,000.5"};
    for (const auto sep : kSeparators) {
        for (const char* raw : texts) {
            const std::string text = withSeparator(raw, sep);
            EXPECT_FALSE(isNumeric(text, sep)) << "'" << text << "'";
            if (!text.empty()) {
                EXPECT_THROW(parseNumber(text, sep), std::invalid_argument) << text;
            }
        }
    }
    // The other separator.
    EXPECT_FALSE(isNumeric("1,5", "."));
    EXPECT_FALSE(isNumeric("1.5", ","));
    EXPECT_THROW(parseNumber("1e5000", "."), ArithmeticError);
    EXPECT_FALSE(isNumeric("1e5000", "."));
}

TEST(ParseFixed, RoundsToFourDecimalsTiesToEven) {
    const std::pair<const char*, Fixed> cases[] = {
        {"127.66", 1'276'600},
        {"0.00005", 0},
        {"0.00015", 2},
        {"-0.00015", -2},
        {"0.000051", 1},
        {"1.23456789e2", 1'234'568},
        {"922337203685477.5807", std::numeric_limits<Fixed>::max()},
        {"-922337203685477.5808", std::numeric_limits<Fixed>::min()}};
    for (const auto sep : kSeparators) {
        for (const auto& [raw, expected] : cases) {
            const std::string text = withSeparator(raw, sep);
            EXPECT_EQ(parseFixed(text, sep), expected) << text;
        }
        for (const char* raw : {"922337203685477.5808", "1e400"}) {
            EXPECT_THROW(parseFixed(withSeparator(raw, sep), sep), ArithmeticError) << raw;
        }
    }
}

}  // namespace
}  // namespace pulsaro

// Fuzzes the number conversions of the tempo box and the settings values:
// parseNumber, parseFixed and isNumeric with "." and "," as the decimal
// separator. Neither may throw anything but std::invalid_argument or
// ArithmeticError; isNumeric is true exactly when parseNumber returns a
// value; parseFixed rejects the same texts and agrees with parseNumber to
// within half a unit of the fourth decimal; a text written with "." reads the
// same as the text with "," under ","; and a fixed-point value written with
// four decimals reads back to itself.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/fixed_point.h"
#include "core/number_format.h"
#include "fuzz_common.h"

namespace {

using pulsaro::ArithmeticError;
using pulsaro::Fixed;

enum class Outcome { Value, Invalid, Overflow };

struct Number {
    Outcome outcome = Outcome::Invalid;
    long double value = 0;
};

struct FixedNumber {
    Outcome outcome = Outcome::Invalid;
    Fixed value = 0;
};

Number readNumber(std::string_view text, std::string_view separator) {
    try {
        return {Outcome::Value, pulsaro::parseNumber(text, separator)};
    } catch (const std::invalid_argument&) {
        return {Outcome::Invalid, 0};
    } catch (const ArithmeticError&) {
        return {Outcome::Overflow, 0};
    }
}

FixedNumber readFixed(std::string_view text, std::string_view separator) {
    try {
        return {Outcome::Value, pulsaro::parseFixed(text, separator)};
    } catch (const std::invalid_argument&) {
        return {Outcome::Invalid, 0};
    } catch (const ArithmeticError&) {
        return {Outcome::Overflow, 0};
    }
}

bool sameNumber(const Number& a, const Number& b) {
    if (a.outcome != b.outcome) {
        return false;
    }
    return a.outcome != Outcome::Value ||
           (a.value == b.value && std::signbit(a.value) == std::signbit(b.value));
}

// 2^63: the first magnitude a Fixed cannot hold (the negative side holds it).
constexpr long double kFixedLimit = 9223372036854775808.0L;

void checkText(std::string_view text, std::string_view separator) {
    const Number number = readNumber(text, separator);
    const FixedNumber fixed = readFixed(text, separator);
    const bool numeric = pulsaro::isNumeric(text, separator);

    PULSARO_FUZZ_CHECK(numeric == (!text.empty() && number.outcome == Outcome::Value));
    PULSARO_FUZZ_CHECK((number.outcome == Outcome::Invalid) == (fixed.outcome == Outcome::Invalid));
    if (number.outcome == Outcome::Value) {
        PULSARO_FUZZ_CHECK(std::isfinite(number.value));
    }
    if (number.outcome == Outcome::Overflow) {
        PULSARO_FUZZ_CHECK(fixed.outcome == Outcome::Overflow);
    }
    if (number.outcome == Outcome::Value && fixed.outcome == Outcome::Value) {
        // Both round the same written digits: the decimal value once to
        // binary, once to four decimals.
        const long double units = number.value * 10000.0L;
        const long double difference = std::fabs(static_cast<long double>(fixed.value) - units);
        PULSARO_FUZZ_CHECK(difference <= 0.5L + std::fabs(units) * 1e-17L);
    }
    if (number.outcome == Outcome::Value && fixed.outcome == Outcome::Overflow) {
        PULSARO_FUZZ_CHECK(std::fabs(number.value * 10000.0L) >= kFixedLimit * (1 - 1e-17L));
    }
    constexpr Fixed kSeventeenDigits = 100'000'000'000'000'000LL;
    if (fixed.outcome == Outcome::Value && fixed.value > -kSeventeenDigits &&
        fixed.value < kSeventeenDigits) {
        // 17 digits at most: the formatter's 18 significant digits hold them.
        const std::string written =
            pulsaro::formatDecimals(pulsaro::toLongDouble(fixed.value), 4, separator);
        const FixedNumber back = readFixed(written, separator);
        PULSARO_FUZZ_CHECK(back.outcome == Outcome::Value && back.value == fixed.value);
        PULSARO_FUZZ_CHECK(pulsaro::isNumeric(written, separator));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkText(text, ".");
    checkText(text, ",");
    // The separator is all that differs between the two readings.
    if (text.find(',') == std::string_view::npos) {
        std::string comma(text);
        for (char& c : comma) {
            if (c == '.') {
                c = ',';
            }
        }
        PULSARO_FUZZ_CHECK(sameNumber(readNumber(text, "."), readNumber(comma, ",")));
        const FixedNumber a = readFixed(text, ".");
        const FixedNumber b = readFixed(comma, ",");
        PULSARO_FUZZ_CHECK(a.outcome == b.outcome && a.value == b.value);
    }
    return 0;
}

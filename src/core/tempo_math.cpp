#include "core/tempo_math.h"

#include "core/number_format.h"

namespace pulsaro {

namespace {

long double bpmOf(Fixed tempo) {
    return divide(static_cast<long double>(tempo), kFixedScale);
}

// Tempo divided by `divisor`, shown as "=<whole number>".
std::string measuresText(Fixed tempo, long double divisor, std::string_view separator) {
    return formatPattern(divide(divide(static_cast<long double>(tempo), divisor), kFixedScale),
                         "=0", separator);
}

}  // namespace

std::string pitchRangeText(int percent, Fixed tempo, std::string_view decimalSeparator) {
    const long double share = divide(percent, 100.0L);
    const auto base = static_cast<long double>(tempo);
    const long double deviation = share * base;
    const Fixed low = roundEven(base - deviation);
    const Fixed high = roundEven(base + deviation);
    return "Pitchrange(\xC2\xB1" + std::to_string(percent) +
           "%): " + formatDecimals(toLongDouble(low), 0, decimalSeparator) + " - " +
           formatDecimals(toLongDouble(high), 0, decimalSeparator);
}

std::string halfRoundedText(Fixed tempo, std::string_view decimalSeparator) {
    // Hundredths first, so 120.295 already counts as 120.30 and goes up to a half.
    const Fixed hundredths =
        parseFixed(formatPattern(bpmOf(tempo), ".00", decimalSeparator), decimalSeparator);
    const Fixed magnitude = hundredths < 0 ? -hundredths : hundredths;
    const std::string sign = hundredths < 0 ? "-" : "";
    const Fixed whole = magnitude / kFixedScale;
    const Fixed firstDecimal = magnitude % kFixedScale / 1000;
    if (firstDecimal <= 2) {
        return sign + std::to_string(whole);
    }
    if (firstDecimal <= 7) {
        return sign + std::to_string(whole) + formatPattern(0.5L, ".0", decimalSeparator);
    }
    return sign + std::to_string(whole + 1);
}

std::string wholeRoundedText(Fixed tempo, std::string_view decimalSeparator) {
    return formatPattern(bpmOf(tempo), "0", decimalSeparator);
}

MpmTexts mpmTexts(Fixed tempo, std::string_view decimalSeparator) {
    MpmTexts t;
    t.bpm = "BPM: " + formatDecimals(bpmOf(tempo), 1, decimalSeparator);
    t.half = measuresText(tempo, 2.0L, decimalSeparator);
    t.twoThirds =
        formatPattern(divide(static_cast<long double>(tempo), 15000.0L), "=0", decimalSeparator);
    t.third = measuresText(tempo, 3.0L, decimalSeparator);
    t.quarter = measuresText(tempo, 4.0L, decimalSeparator);
    t.eighth = measuresText(tempo, 8.0L, decimalSeparator);
    return t;
}

std::array<std::string, kDelayRows> delayTexts(bool triplets, Fixed tempo,
                                               std::string_view decimalSeparator) {
    // Note lengths in ms at 1 BPM; the factor below undoes the tempo's scaling.
    static constexpr std::array<long double, kDelayRows> kStraight = {
        120000.0L, 60000.0L, 30000.0L, 15000.0L, 7500.0L, 3750.0L, 1875.0L};
    static constexpr std::array<long double, kDelayRows> kTriplets = {
        80000.0L, 40000.0L, 20000.0L, 10000.0L, 5000.0L, 2500.0L, 1250.0L};
    const auto& constants = triplets ? kTriplets : kStraight;
    std::array<std::string, kDelayRows> texts;
    for (std::size_t i = 0; i < kDelayRows; ++i) {
        const long double ms = divide(constants[i], static_cast<long double>(tempo)) * kFixedScale;
        texts[i] = formatPattern(ms, "0.###", decimalSeparator);
    }
    return texts;
}

std::string delayBoxText(Fixed tempo, std::string_view decimalSeparator) {
    return formatPattern(bpmOf(tempo), "0.#", decimalSeparator);
}

}  // namespace pulsaro

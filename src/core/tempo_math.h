#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/fixed_point.h"

namespace pulsaro {

// "Pitchrange(±<p>%): <low> - <high>", low and high = tempo -/+ p percent,
// rounded ties to even to fixed point and shown as whole BPM ("%.0f").
// With p = 8 and 127.6596 BPM: "Pitchrange(±8%): 117 - 138".
std::string pitchRangeText(int percent, Fixed tempo, std::string_view decimalSeparator);

// Rounds a tempo to whole or half BPM: T = tempo rounded to hundredths
// (pattern ".00" read back); fraction digit 0-2 -> "127", 3-7 -> "127<sep>5",
// 8-9 -> "128". Throws on failure.
std::string halfRoundedText(Fixed tempo, std::string_view decimalSeparator);

// Fallback of halfRoundedText: the tempo rounded to a whole number, pattern "0".
std::string wholeRoundedText(Fixed tempo, std::string_view decimalSeparator);

// Measures per minute, each as its "=0" text ("=64"); bpm is "BPM: %.1f".
struct MpmTexts {
    std::string bpm;        // "BPM: 127.7"
    std::string half;       // "=64"   tempo / 2
    std::string twoThirds;  // "=85"   tempo / 1.5
    std::string third;      // "=43"   tempo / 3
    std::string quarter;    // "=32"   tempo / 4
    std::string eighth;     // "=16"   tempo / 8
};
MpmTexts mpmTexts(Fixed tempo, std::string_view decimalSeparator);

// Delay times in ms for 2x whole, whole, half, quarter, eighth, sixteenth,
// thirty-second, pattern "0.###". Straight: 120000/tempo_bpm ... ; triplets
// two thirds of that. Throws ArithmeticError for a zero tempo.
inline constexpr std::size_t kDelayRows = 7;
std::array<std::string, kDelayRows> delayTexts(bool triplets, Fixed tempo,
                                               std::string_view decimalSeparator);

// The tempo in pattern "0.#", the text the delay box shows (127.7).
std::string delayBoxText(Fixed tempo, std::string_view decimalSeparator);

}  // namespace pulsaro

#pragma once

#include <cstdint>
#include <stdexcept>

namespace pulsaro {

// Tempos, elapsed times, sums and means are kept as a signed 64-bit integer
// holding the value times 10000 (four decimal places): 120 BPM is 1 200 000.
using Fixed = std::int64_t;
inline constexpr Fixed kFixedScale = 10000;

// Raised for a division by zero or a result that does not fit, instead of
// letting an infinity or a wrapped value reach the display.
class ArithmeticError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// x rounded to the nearest integer, ties to even. Throws ArithmeticError when
// x is not finite or does not fit into 64 bits.
Fixed roundEven(long double x);

// a / b in extended precision; throws ArithmeticError when b is zero.
long double divide(long double a, long double b);

// a + b; throws ArithmeticError on overflow.
Fixed addFixed(Fixed a, Fixed b);

// The value of f as an extended-precision number (f / 10000).
long double toLongDouble(Fixed f);

// Performance-counter difference -> microseconds: delta * 1 000 000 in 64-bit
// integer arithmetic (throws on overflow), divided by the frequency in
// extended precision, rounded ties to even. Throws on a zero frequency.
std::int64_t microsecondsFromCounts(std::int64_t countDelta, std::int64_t frequency);

// Elapsed seconds as fixed point: RoundEven(us / 1 000 000 * 10 000).
Fixed elapsedFromMicroseconds(std::int64_t microseconds);

// Tempo in fixed-point BPM: RoundEven(intervals / elapsed * 60 * 100 000 000).
// Throws ArithmeticError when elapsed is 0.
Fixed tempoFromElapsed(std::int32_t intervals, Fixed elapsed);

// Mean: RoundEven(sum / count). Throws when count is 0.
Fixed meanOf(Fixed sum, std::int32_t count);

// Pause between two millisecond ticks as fixed-point seconds:
// RoundEven((now * 10000 - last * 10000) / 1000).
Fixed pauseFromTicks(std::uint64_t nowMs, std::uint64_t lastMs);

}  // namespace pulsaro

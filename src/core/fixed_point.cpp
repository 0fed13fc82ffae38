#include "core/fixed_point.h"

#include <cmath>
#include <limits>

namespace pulsaro {

namespace {

// 2^63, exactly representable, unlike INT64_MAX.
constexpr long double kInt64Bound = 9223372036854775808.0L;

}  // namespace

Fixed roundEven(long double x) {
    if (!std::isfinite(x)) {
        throw ArithmeticError("Invalid floating point operation");
    }
    // Done by hand so the result does not depend on the FPU rounding mode.
    long double whole = std::floor(x);
    const long double fraction = x - whole;  // exact in binary floating point
    if (fraction > 0.5L || (fraction == 0.5L && std::fmod(whole, 2.0L) != 0.0L)) {
        whole += 1.0L;
    }
    if (whole < -kInt64Bound || whole >= kInt64Bound) {
        throw ArithmeticError("Floating point overflow");
    }
    return static_cast<Fixed>(whole);
}

long double divide(long double a, long double b) {
    if (b == 0.0L) {
        throw ArithmeticError("Floating point division by zero");
    }
    const long double q = a / b;
    if (!std::isfinite(q)) {
        throw ArithmeticError("Floating point overflow");
    }
    return q;
}

Fixed addFixed(Fixed a, Fixed b) {
    Fixed sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        throw ArithmeticError("Integer overflow");
    }
    return sum;
}

long double toLongDouble(Fixed f) {
    return static_cast<long double>(f) / kFixedScale;
}

std::int64_t microsecondsFromCounts(std::int64_t countDelta, std::int64_t frequency) {
    std::int64_t scaled = 0;
    if (__builtin_mul_overflow(countDelta, std::int64_t{1'000'000}, &scaled)) {
        throw ArithmeticError("Integer overflow");
    }
    return roundEven(divide(static_cast<long double>(scaled), static_cast<long double>(frequency)));
}

Fixed elapsedFromMicroseconds(std::int64_t microseconds) {
    return roundEven(divide(static_cast<long double>(microseconds), 1'000'000.0L) * 10'000.0L);
}

Fixed tempoFromElapsed(std::int32_t intervals, Fixed elapsed) {
    const long double perSecond = divide(intervals, static_cast<long double>(elapsed));
    return roundEven(perSecond * 60.0L * 100'000'000.0L);
}

Fixed meanOf(Fixed sum, std::int32_t count) {
    return roundEven(divide(static_cast<long double>(sum), count));
}

Fixed pauseFromTicks(std::uint64_t nowMs, std::uint64_t lastMs) {
    // Widened before scaling so the products cannot wrap for any tick value.
    const long double now = static_cast<long double>(nowMs) * kFixedScale;
    const long double last = static_cast<long double>(lastMs) * kFixedScale;
    return roundEven(divide(now - last, 1000.0L));
}

}  // namespace pulsaro

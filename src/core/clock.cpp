#include "core/clock.h"

#include <chrono>

namespace pulsaro {

namespace {
using Steady = std::chrono::steady_clock;
}

// Counts of 100 ns: fine enough for a tap, and the count difference times
// 1 000 000 stays within 64 bits for more than ten days of measuring.
using Counts = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;

std::int64_t SteadyClock::performanceCount() {
    return std::chrono::duration_cast<Counts>(Steady::now().time_since_epoch()).count();
}

std::int64_t SteadyClock::performanceFrequency() {
    return Counts::period::den;
}

std::uint64_t SteadyClock::tickCountMs() {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now().time_since_epoch());
    return static_cast<std::uint64_t>(ms.count());
}

TapInstant instantOf(Clock& clock) {
    TapInstant at;
    at.count = clock.performanceCount();
    at.frequency = clock.performanceFrequency();
    at.tickMs = clock.tickCountMs();
    return at;
}

}  // namespace pulsaro

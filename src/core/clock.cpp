#include "core/clock.h"

#include <chrono>

#include "core/fixed_point.h"

namespace pulsaro {

namespace {
using Steady = std::chrono::steady_clock;
}

std::int64_t SteadyClock::performanceCount() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
        .count();
}

std::int64_t SteadyClock::performanceFrequency() {
    return 1'000'000'000;
}

std::uint64_t SteadyClock::tickCountMs() {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now().time_since_epoch());
    return static_cast<std::uint64_t>(ms.count());
}

void TPerfCounter::Start() {
    startCount_ = clock_.performanceCount();
}

std::int64_t TPerfCounter::ElapsedMicroseconds() {
    latestCount_ = clock_.performanceCount();
    frequency_ = clock_.performanceFrequency();
    return microsecondsFromCounts(latestCount_ - startCount_, frequency_);
}

}  // namespace pulsaro

#pragma once

#include <cstdint>

namespace pulsaro {

// Time sources of a measurement: a high-resolution counter for the tempo and
// a coarse millisecond tick for the pause test. Tests replace it with a clock
// they move by hand.
class Clock {
public:
    virtual ~Clock() = default;

    // Counter value and its counts per second.
    virtual std::int64_t performanceCount() = 0;
    virtual std::int64_t performanceFrequency() = 0;

    // Monotonic milliseconds. 64 bits wide so it never wraps while the
    // program runs (a 32-bit tick wraps after 49.7 days and would stop a
    // running measurement from ever timing out).
    virtual std::uint64_t tickCountMs() = 0;

    // Whether the window system's event times advance with this clock (both
    // monotonic), so they can be mapped onto it. A clock moved by hand does
    // not.
    virtual bool followsEventTimes() const { return false; }
};

// std::chrono::steady_clock.
class SteadyClock final : public Clock {
public:
    std::int64_t performanceCount() override;
    std::int64_t performanceFrequency() override;
    std::uint64_t tickCountMs() override;
    bool followsEventTimes() const override { return true; }
};

// When something happened: the high-resolution counter with its counts per
// second, and the millisecond tick that only the pause test uses.
struct TapInstant {
    std::int64_t count = 0;
    std::int64_t frequency = 1;
    std::uint64_t tickMs = 0;
};

// Reads the clock once, as an event arrives.
TapInstant instantOf(Clock& clock);

}  // namespace pulsaro

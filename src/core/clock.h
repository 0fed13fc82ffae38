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
};

// std::chrono::steady_clock.
class SteadyClock final : public Clock {
public:
    std::int64_t performanceCount() override;
    std::int64_t performanceFrequency() override;
    std::uint64_t tickCountMs() override;
};

// Reads the counter of a Clock: Start remembers it, ElapsedMicroseconds
// measures from that same start every time.
class TPerfCounter {
public:
    explicit TPerfCounter(Clock& clock) : clock_(clock) {}

    void Start();
    std::int64_t ElapsedMicroseconds();

    std::int64_t frequency() const { return frequency_; }
    std::int64_t startCount() const { return startCount_; }
    std::int64_t latestCount() const { return latestCount_; }

private:
    Clock& clock_;
    std::int64_t frequency_ = 0;
    std::int64_t startCount_ = 0;
    std::int64_t latestCount_ = 0;
};

}  // namespace pulsaro

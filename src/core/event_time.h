#pragma once

#include <cstdint>
#include <optional>

#include "core/clock.h"

namespace pulsaro {

// Maps the window system's time stamps of input events (whole milliseconds
// on its own monotonic clock) onto the tap clock, so a press is timed when it
// happened, not when a busy GUI thread got to it. The offset between the two
// clocks is the least difference seen between an event's arrival and its
// stamp: the event that waited least.
class EventTimeMap {
public:
    // An event stamped eventMs arrived at `arrival`; it teaches the offset.
    void observe(const TapInstant& arrival, std::uint64_t eventMs);
    // When the event stamped eventMs happened, on the tap clock. Without a
    // stamp (0) it is the arrival. Within a run (a measurement going on) the
    // offset the run started with is kept: one learnt better halfway would
    // shorten the intervals to the presses mapped before it and raise the
    // tempo. Only a jump of the stamps' clock replaces it.
    TapInstant map(const TapInstant& arrival, std::uint64_t eventMs, bool withinRun = false);

private:
    // Tap-clock counts minus the stamp in counts: the least seen, and the
    // one the current run maps with.
    std::optional<std::int64_t> offset_;
    std::optional<std::int64_t> runOffset_;
};

}  // namespace pulsaro

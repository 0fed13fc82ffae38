#include "core/event_time.h"

namespace pulsaro {

namespace {

// A stamp that seems to lag its arrival by more than this belongs to a clock
// that moved (a wrap of the 32-bit stamp, a suspend): learn afresh.
constexpr std::int64_t kResyncMs = 5'000;

std::int64_t stampCounts(std::uint64_t eventMs, std::int64_t frequency) {
    return static_cast<std::int64_t>(eventMs) * (frequency / 1000) +
           static_cast<std::int64_t>(eventMs) * (frequency % 1000) / 1000;
}

}  // namespace

void EventTimeMap::observe(const TapInstant& arrival, std::uint64_t eventMs) {
    if (eventMs == 0 || arrival.frequency <= 0) {
        return;
    }
    const std::int64_t candidate = arrival.count - stampCounts(eventMs, arrival.frequency);
    const std::int64_t resync = kResyncMs * arrival.frequency / 1000;
    if (!offset_ || candidate < *offset_ || candidate - *offset_ > resync) {
        offset_ = candidate;
    }
}

TapInstant EventTimeMap::map(const TapInstant& arrival, std::uint64_t eventMs, bool withinRun) {
    observe(arrival, eventMs);
    if (eventMs == 0 || !offset_) {
        return arrival;
    }
    const std::int64_t stamp = stampCounts(eventMs, arrival.frequency);
    const std::int64_t resync = kResyncMs * arrival.frequency / 1000;
    if (!withinRun || !runOffset_ || stamp + *runOffset_ - arrival.count > resync ||
        arrival.count - (stamp + *runOffset_) > resync) {
        runOffset_ = offset_;
    }
    TapInstant at = arrival;
    at.count = stamp + *runOffset_;
    // The pause test's tick moves back by the same wait.
    const std::int64_t waitedMs = (arrival.count - at.count) * 1000 / arrival.frequency;
    at.tickMs = arrival.tickMs - static_cast<std::uint64_t>(waitedMs);
    return at;
}

}  // namespace pulsaro

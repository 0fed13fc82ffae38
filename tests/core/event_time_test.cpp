#include "core/event_time.h"

#include <gtest/gtest.h>

#include <vector>

namespace pulsaro {
namespace {

// Arrivals on a 10 MHz tap clock, in milliseconds; stamps in milliseconds of
// a window-system clock that runs 7 s behind it.
TapInstant arrival(double ms) {
    return {static_cast<std::int64_t>(ms * 10'000), 10'000'000, static_cast<std::uint64_t>(ms)};
}

TEST(EventTimeMap, PressesAreTimedByTheirStampsNotTheirArrival) {
    struct Row {
        const char* what;
        double arrivedMs;
        std::uint64_t stampMs;
        double happenedMs;  // on the tap clock
    };
    // The first event waited 2 ms, the second none: from then on the offset
    // is exact, and a press that waited behind a busy GUI thread is put back
    // where it happened.
    const Row rows[] = {
        {"first event, its wait unknown", 10'002, 3'000, 10'002},
        {"an event that did not wait", 10'500, 3'500, 10'500},
        {"a press that waited 40 ms", 11'040, 4'000, 11'000},
        {"a press that waited 150 ms", 11'650, 4'500, 11'500},
        {"no stamp: the arrival", 12'000, 0, 12'000},
        {"a stamp that jumped (wrap, suspend): learnt afresh", 30'000, 5'000, 30'000},
        {"and the new offset holds", 30'540, 5'500, 30'500},
    };
    EventTimeMap map;
    for (const Row& row : rows) {
        const TapInstant at = map.map(arrival(row.arrivedMs), row.stampMs);
        EXPECT_EQ(at.count, static_cast<std::int64_t>(row.happenedMs * 10'000)) << row.what;
        EXPECT_EQ(at.tickMs, static_cast<std::uint64_t>(row.happenedMs)) << row.what;
    }
}

// Right after start every key waits behind the busy GUI thread, so the first
// press of a run is mapped with too large an offset; a better one learnt
// halfway must not shorten the intervals to the presses before it.
TEST(EventTimeMap, ARunKeepsTheOffsetItStartedWith) {
    EventTimeMap map;
    // Presses 500 ms apart: the first two waited 300 ms, the rest none.
    const double waits[] = {300, 300, 0, 0};
    std::vector<std::int64_t> mapped;
    for (int i = 0; i < 4; ++i) {
        const double stamp = 1'000 + 500.0 * i;
        mapped.push_back(
            map.map(arrival(10'000 + stamp + waits[i]), static_cast<std::uint64_t>(stamp), i > 0)
                .count);
    }
    for (std::size_t i = 1; i < mapped.size(); ++i) {
        EXPECT_EQ(mapped[i] - mapped[i - 1], 500 * 10'000) << i;
    }
    // The next run starts with the offset learnt meanwhile.
    EXPECT_EQ(map.map(arrival(10'000 + 4'000), 4'000, false).count, (10'000 + 4'000) * 10'000);
}

}  // namespace
}  // namespace pulsaro

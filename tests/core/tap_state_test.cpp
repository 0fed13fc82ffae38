#include "core/tap_state.h"

#include <gtest/gtest.h>

#include "core/clock.h"

namespace pulsaro {
namespace {

class ManualClock final : public Clock {
public:
    std::int64_t count = 0;
    std::int64_t frequency = 10'000'000;
    std::uint64_t tick = 1'000;
    std::int64_t performanceCount() override { return count; }
    std::int64_t performanceFrequency() override { return frequency; }
    std::uint64_t tickCountMs() override { return tick; }
};

TEST(PerfCounter, MeasuresEveryQueryFromTheSameStart) {
    ManualClock clock;
    clock.count = 123'456'789;
    TPerfCounter counter(clock);
    counter.Start();
    clock.count += 4'700'000;  // 0.47 s at 10 MHz
    EXPECT_EQ(counter.ElapsedMicroseconds(), 470'000);
    clock.count += 4'700'000;
    EXPECT_EQ(counter.ElapsedMicroseconds(), 940'000);
    EXPECT_EQ(counter.frequency(), 10'000'000);
}

TEST(PerfCounter, RoundsHalfMicrosecondsToEven) {
    ManualClock clock;
    clock.frequency = 2'000'000;  // half a microsecond per count
    TPerfCounter counter(clock);
    counter.Start();
    clock.count = 1;  // 0.5 us -> 0
    EXPECT_EQ(counter.ElapsedMicroseconds(), 0);
    clock.count = 3;  // 1.5 us -> 2
    EXPECT_EQ(counter.ElapsedMicroseconds(), 2);
}

// Presses at 0, 0.47, 0.94 and 1.405 s: tempo, sum and mean step by step.
TEST(TapState, WorkedMeasurement) {
    TapState state;
    state.startTick = 1;
    state.intervalCount = 1;
    struct Row {
        std::int64_t us;
        Fixed elapsed, tempo, mean;
    };
    const Row rows[] = {{470'000, 4'700, 1'276'596, 1'276'596},
                        {940'000, 9'400, 1'276'596, 1'276'596},
                        {1'405'000, 14'050, 1'281'139, 1'278'110}};
    std::uint64_t tick = 100;
    for (const Row& row : rows) {
        const PressTempo press = tempoOfPress(state, row.us);
        EXPECT_EQ(press.elapsed, row.elapsed);
        EXPECT_EQ(press.tempo, row.tempo);
        EXPECT_FALSE(press.tooFast());
        state.bpmSum = addFixed(state.bpmSum, press.tempo);
        EXPECT_EQ(meanTempo(state), row.mean);
        acceptPress(state, press, tick += 470);
        EXPECT_EQ(state.currentBpmValue, row.tempo);
        EXPECT_EQ(state.lastTick, tick);
    }
    EXPECT_EQ(state.intervalCount, 4);
}

TEST(TapState, TooFastLimitIsExclusive) {
    TapState state;
    // 251 intervals in exactly 60 s is 251.0000 BPM: still counted.
    state.intervalCount = 251;
    EXPECT_EQ(tempoOfPress(state, 60'000'000).tempo, 2'510'000);
    EXPECT_FALSE(tempoOfPress(state, 60'000'000).tooFast());
    EXPECT_TRUE(tempoOfPress(state, 59'999'900).tooFast());
    state.intervalCount = 1;
    EXPECT_TRUE(tempoOfPress(state, 200'000).tooFast());  // 300 BPM
}

TEST(TapState, PressWithinFiftyMicrosecondsFailsWithoutChange) {
    TapState state;
    state.intervalCount = 1;
    EXPECT_THROW(tempoOfPress(state, 50), ArithmeticError);
    EXPECT_NO_THROW(tempoOfPress(state, 51));
}

TEST(TapState, PauseOfTwoAndAHalfSecondsEndsTheRun) {
    struct Row {
        std::uint64_t now, last;
        bool ends;
    };
    // The last row is past the 32-bit wrap of a millisecond tick.
    const Row rows[] = {{3'499, 1'000, false},
                        {3'500, 1'000, true},
                        {1'000, 1'000, false},
                        {(1ULL << 32) + 2'000, (1ULL << 32) - 600, true}};
    for (const Row& row : rows) {
        EXPECT_EQ(pauseEndsMeasurement(row.now, row.last), row.ends) << row.now << " " << row.last;
    }
}

TEST(TapState, ClearRunKeepsWhatTheDisplayShows) {
    TapState state{5, 6, 7, 8, 9, 10, kModeMpm};
    state.clearRun();
    EXPECT_FALSE(state.measuring());
    EXPECT_EQ(state.lastTick, 0u);
    EXPECT_EQ(state.intervalCount, 0);
    EXPECT_EQ(state.bpmSum, 0);
    EXPECT_EQ(state.beatNumber, 9);
    EXPECT_EQ(state.currentBpmValue, 10);
    EXPECT_EQ(state.measurementMode, kModeMpm);
}

}  // namespace
}  // namespace pulsaro

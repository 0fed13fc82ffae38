#include "core/tap_model.h"

#include <gtest/gtest.h>
#include <cmath>

#include <vector>

namespace pulsaro {
namespace {

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

// Records what observers are told.
struct Recorder final : TapObserver {
    std::vector<TapPress> presses;
    std::vector<std::pair<Fixed, double>> ends;
    int clears = 0;
    void pressed(const TapPress& press) override { presses.push_back(press); }
    void measurementEnded(Fixed tempo, const BeatGrid& grid) override {
        ends.emplace_back(tempo, grid.beatSeconds);
    }
    void cleared() override { ++clears; }
};

// A press at t seconds on a 10 MHz counter that started at 100 s.
TapInstant at(double t) {
    const auto micros = static_cast<std::int64_t>(t * 1e6 + 0.5);
    return {1'000'000'000 + micros * 10, 10'000'000,
            100'000 + static_cast<std::uint64_t>(micros / 1000)};
}

// Each row: press times; then the model's tempo, mean, counts and the beat the
// grid continues from (seconds on the counter).
TEST(TapModel, PressesGiveTempoMeanAndGrid) {
    struct Row {
        const char* what;
        std::vector<double> presses;
        Fixed tempo, mean;
        std::int32_t beats, intervals;
        PressKind lastKind;
        double gridSeconds;
        std::int64_t gridIndex;
        // The 95 % half-width of the fitted tempo; -1 for none yet.
        double uncertainty;
    };
    const Row rows[] = {
        {"one press: no tempo", {0}, 0, 0, 1, 1, PressKind::First, 100.0, 0, -1},
        {"worked example",
         {0, 0.47, 0.94, 1.405},
         1'281'139,
         1'278'110,
         4,
         4,
         PressKind::Counted,
         101.405,
         3,
         1.0187},
        {"every 0.5 s",
         {0, 0.5, 1.0, 1.5},
         1'200'000,
         1'200'000,
         4,
         4,
         PressKind::Counted,
         101.5,
         3,
         0},
        // The fast press shows its tempo but counts nowhere, and the grid
        // stays on the last counted beat.
        {"double press", {0, 0.2}, 3'000'000, 0, 2, 1, PressKind::TooFast, 100.0, 0, -1},
        {"double press, then on time",
         {0, 0.2, 0.5},
         1'200'000,
         1'200'000,
         3,
         2,
         PressKind::Counted,
         100.5,
         1,
         -1},
    };
    for (const Row& row : rows) {
        TapModel model;
        Recorder seen;
        model.addObserver(seen);
        for (double t : row.presses) {
            model.press(at(t), kModeBpm);
        }
        EXPECT_EQ(model.tempo(), row.tempo) << row.what;
        EXPECT_EQ(model.state().beatNumber, row.beats) << row.what;
        EXPECT_EQ(model.state().intervalCount, row.intervals) << row.what;
        ASSERT_EQ(seen.presses.size(), row.presses.size()) << row.what;
        EXPECT_EQ(seen.presses.back().kind, row.lastKind) << row.what;
        EXPECT_EQ(seen.presses.back().mean, row.mean) << row.what;
        EXPECT_DOUBLE_EQ(model.grid().beatSeconds, row.gridSeconds) << row.what;
        EXPECT_EQ(model.grid().beatIndex, row.gridIndex) << row.what;
        if (row.uncertainty < 0) {
            EXPECT_FALSE(model.tempoUncertainty()) << row.what;
        } else {
            ASSERT_TRUE(model.tempoUncertainty()) << row.what;
            EXPECT_NEAR(*model.tempoUncertainty(), row.uncertainty, 1e-4) << row.what;
        }
        EXPECT_EQ(model.status(), RunStatus::Measuring) << row.what;
    }
}

TEST(TapModel, PauseEndsTheRunOnceAndKeepsTheTempo) {
    TapModel model;
    Recorder seen;
    model.addObserver(seen);
    for (double t : {0.0, 0.5, 1.0}) {
        model.press(at(t), kModeMpm);
    }
    const std::uint64_t last = at(1.0).tickMs;
    EXPECT_FALSE(model.checkPause(last + 2'499));
    EXPECT_TRUE(model.checkPause(last + 2'500));
    EXPECT_FALSE(model.checkPause(last + 9'000));
    ASSERT_EQ(seen.ends.size(), 1u);
    EXPECT_EQ(seen.ends[0].first, 1'200'000);
    EXPECT_DOUBLE_EQ(seen.ends[0].second, 101.0);
    EXPECT_EQ(model.status(), RunStatus::TimedOut);
    EXPECT_FALSE(model.state().measuring());
    EXPECT_EQ(model.tempo(), 1'200'000);
    EXPECT_EQ(model.state().measurementMode, kModeMpm);

    // The next press starts afresh.
    model.press(at(5.0), kModeBpm);
    EXPECT_EQ(model.state().beatNumber, 1);
    EXPECT_EQ(model.tempo(), 0);
    EXPECT_EQ(model.state().measurementMode, kModeBpm);
}

TEST(TapModel, StopKeepsTheLastPressForThePauseAndResetClearsAll) {
    TapModel model;
    Recorder seen;
    model.addObserver(seen);
    model.press(at(0), kModeBpm);
    model.press(at(0.5), kModeBpm);
    model.stop();
    EXPECT_FALSE(model.state().measuring());
    EXPECT_EQ(model.status(), RunStatus::Idle);
    EXPECT_TRUE(model.checkPause(at(3.0).tickMs));
    EXPECT_EQ(model.status(), RunStatus::TimedOut);

    model.reset();
    EXPECT_EQ(model.tempo(), 0);
    EXPECT_EQ(model.status(), RunStatus::Idle);
    EXPECT_EQ(seen.clears, 1);
}

TEST(TapModel, PressTooCloseToTheFirstCountsTheBeatOnly) {
    TapModel model;
    Recorder seen;
    model.addObserver(seen);
    model.press(at(0), kModeBpm);
    EXPECT_THROW(model.press(at(0.00004), kModeBpm), ArithmeticError);
    EXPECT_EQ(seen.presses.back().kind, PressKind::Uncounted);
    EXPECT_EQ(model.state().beatNumber, 2);
    EXPECT_EQ(model.state().intervalCount, 1);
    EXPECT_EQ(model.tempo(), 0);
}

// Presses 500 ms apart, each off by up to 9 ms (a fixed pseudo-random
// pattern): the interval shrinks as presses go on and holds the true tempo;
// a typed tempo or a reset drops it.
TEST(TapModel, UncertaintyShrinksAsTheTapsGoOn) {
    TapModel model;
    std::vector<double> widths;
    for (int i = 0; i < 64; ++i) {
        const double jitter = ((i * 37) % 19 - 9) * 0.001;
        model.press(at(i * 0.5 + jitter), kModeBpm);
        if (i == 7 || i == 15 || i == 31 || i == 63) {
            ASSERT_TRUE(model.tempoUncertainty()) << i;
            widths.push_back(*model.tempoUncertainty());
            EXPECT_LT(std::abs(static_cast<double>(toLongDouble(model.tempo())) - 120.0),
                      3 * widths.back())
                << i;
        }
    }
    for (std::size_t i = 1; i < widths.size(); ++i) {
        EXPECT_LT(widths[i], widths[i - 1] * 0.6) << i;
    }
    model.setTypedTempo(1'000'000);
    EXPECT_FALSE(model.tempoUncertainty());
    model.press(at(100), kModeBpm);
    model.press(at(100.5), kModeBpm);
    model.press(at(101.01), kModeBpm);
    EXPECT_TRUE(model.tempoUncertainty());
    model.reset();
    EXPECT_FALSE(model.tempoUncertainty());
}

}  // namespace
}  // namespace pulsaro

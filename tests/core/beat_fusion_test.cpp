#include "core/beat_fusion.h"

#include <gtest/gtest.h>

#include "core/tap_model.h"

namespace pulsaro {
namespace {

// The music: 128 BPM with a beat at 100 s (beats every 468.75 ms).
constexpr double kHeardBpm = 128.0;
constexpr double kBeat = 100.0;

TEST(BeatFusion, TapsChooseTheOctaveAndTheBeatTheMusicMakesThemExact) {
    struct Row {
        const char* what;
        TappedRun taps;
        std::optional<HeardGrid> heard;
        FusionOutcome outcome;
        double bpm;
        double beatSeconds;
    };
    const HeardGrid heard{kHeardBpm, 0.02, kBeat};
    const HeardGrid heardDouble{2 * kHeardBpm, 0.04, kBeat};
    const Row rows[] = {
        {"agreeing taps, 15 ms late",
         {127.2, 1.5, {kBeat + 4 * 0.46875 + 0.015, 7}},
         heard,
         FusionOutcome::Locked,
         128.0,
         kBeat + 4 * 0.46875},
        {"three taps: no spread of their own",
         {125.0, std::nullopt, {kBeat - 0.02, 2}},
         heard,
         FusionOutcome::Locked,
         128.0,
         kBeat},
        {"taps at half: the music counted slower",
         {64.3, 2.0, {kBeat + 0.9375, 3}},
         heard,
         FusionOutcome::Locked,
         64.0,
         kBeat + 0.9375},
        {"music heard double: the taps pick every other heard beat",
         {127.5, 2.0, {kBeat + 0.234375 + 0.01, 3}},
         heardDouble,
         FusionOutcome::Locked,
         128.0,
         kBeat + 0.234375},
        {"a third apart",
         {170.7, 2.0, {kBeat, 5}},
         heard,
         FusionOutcome::TempoDiffers,
         170.7,
         kBeat},
        {"three halves apart",
         {192.0, 2.0, {kBeat, 5}},
         heard,
         FusionOutcome::TempoDiffers,
         192.0,
         kBeat},
        {"a steady run 1 % off",
         {129.3, 0.3, {kBeat, 9}},
         heard,
         FusionOutcome::TempoDiffers,
         129.3,
         kBeat},
        {"on the off-beat",
         {128.4, 1.0, {kBeat + 0.234, 5}},
         heard,
         FusionOutcome::BeatDiffers,
         128.4,
         kBeat + 0.234},
        {"no audio", {127.2, 1.5, {kBeat, 7}}, std::nullopt, FusionOutcome::TapsOnly, 127.2, kBeat},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const FusedRun fused = fuseTapsWithHeard(row.taps, row.heard);
        EXPECT_EQ(fused.outcome, row.outcome);
        EXPECT_NEAR(fused.bpm, row.bpm, 1e-9);
        EXPECT_NEAR(fused.grid.beatSeconds, row.beatSeconds, 1e-9);
        EXPECT_EQ(fused.grid.beatIndex, row.taps.grid.beatIndex);
    }
}

struct Ends final : TapObserver {
    std::vector<std::pair<Fixed, BeatGrid>> ended, moved;
    void pressed(const TapPress&) override {}
    void measurementEnded(Fixed tempo, const BeatGrid& grid) override {
        ended.emplace_back(tempo, grid);
    }
    void cleared() override {}
    void gridMoved(Fixed tempo, const BeatGrid& grid) override { moved.emplace_back(tempo, grid); }
};

// Four presses 20 ms around the music's beats at 128 BPM, on a 1 MHz counter.
void tapAlong(TapModel& model) {
    const double offsets[] = {0.02, -0.02, 0.01, -0.015};
    for (int k = 0; k < 4; ++k) {
        const double t = kBeat + k * 0.46875 + offsets[k];
        model.press(
            {static_cast<std::int64_t>(t * 1e6), 1'000'000, static_cast<std::uint64_t>(t * 1000)},
            kModeBpm);
    }
}

TEST(BeatFusion, ARunHeardWithTheMusicTakesItsGridAndFollowsIt) {
    TapModel model;
    Ends seen;
    model.addObserver(seen);
    tapAlong(model);
    model.hear(HeardGrid{kHeardBpm, 0.05, kBeat + 1.40625});
    ASSERT_TRUE(model.checkPause(static_cast<std::uint64_t>((kBeat + 5) * 1000)));
    ASSERT_EQ(seen.ended.size(), 1u);
    EXPECT_EQ(model.fusion(), FusionOutcome::Locked);
    EXPECT_EQ(seen.ended[0].first, 1'280'000);
    EXPECT_NEAR(seen.ended[0].second.beatSeconds, kBeat + 1.40625, 1e-9);
    EXPECT_EQ(seen.ended[0].second.beatIndex, 3);
    EXPECT_EQ(model.tempo(), 1'280'000);
    EXPECT_NEAR(model.tempoUncertainty().value_or(-1), 0.05, 1e-12);

    // The music heard better: the run follows; the same grid again is no move.
    model.hear(HeardGrid{128.01, 0.01, kBeat + 30.0});
    model.hear(HeardGrid{128.01, 0.01, kBeat + 30.0});
    ASSERT_EQ(seen.moved.size(), 1u);
    EXPECT_EQ(seen.moved[0].first, 1'280'100);
    // Still the taps' last beat, now on the music's finer grid.
    EXPECT_NEAR(model.grid().beatSeconds, kBeat + 30.0 - 61 * 60 / 128.01, 1e-9);
    EXPECT_EQ(model.grid().beatIndex, 3);
    // Another track at another tempo: the run keeps its grid.
    model.hear(HeardGrid{100.0, 0.01, kBeat + 40.0});
    model.hear(HeardGrid{128.01, 0.01, kBeat + 50.0});
    EXPECT_EQ(seen.moved.size(), 1u);
    EXPECT_EQ(model.tempo(), 1'280'100);

    // A new run without music is the taps' own again.
    model.hear(std::nullopt);
    tapAlong(model);
    EXPECT_EQ(model.fusion(), FusionOutcome::TapsOnly);
    model.checkPause(static_cast<std::uint64_t>((kBeat + 5) * 1000));
    EXPECT_NE(model.tempo(), 1'280'000);
    EXPECT_NEAR(seen.ended.back().second.beatSeconds, kBeat + 1.40625 - 0.015, 1e-6);
}

}  // namespace
}  // namespace pulsaro

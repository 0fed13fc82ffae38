#include "analysis/live_tempo.h"

#include "synth.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pulsaro::analysis {
namespace {

using testing::addBeats;
using testing::Kit;
using testing::kRate;
using testing::Noise;

struct Heard {
    double lockedAt = -1;  // seconds fed when it first locked within 0.1 BPM
    HeardTempo last;
};

// Feeds the audio in blocks of 20 ms, as the capture hands it over.
Heard listen(LiveTempo& live, const std::vector<float>& audio, double expectBpm) {
    Heard heard;
    const auto block = static_cast<std::size_t>(kRate / 50);
    for (std::size_t at = 0; at < audio.size(); at += block) {
        live.feed(std::span(audio).subspan(at, std::min(block, audio.size() - at)));
        if (const auto h = live.update()) {
            heard.last = *h;
            const bool near = h->state == LockState::Locked && std::abs(h->bpm - expectBpm) < 0.1;
            if (near && heard.lockedAt < 0) {
                heard.lockedAt = h->fedSeconds;
            } else if (!near) {
                heard.lockedAt = -1;
            }
        }
    }
    return heard;
}

double phaseError(double t, double firstBeat, double bpm) {
    return std::abs(std::remainder(t - firstBeat, 60.0 / bpm));
}

TEST(LiveTempo, LocksSoonInTheTappedOctaveAndOnTheBeat) {
    struct Row {
        const char* what;
        Kit kit;
        double bpm;
        std::optional<double> tapped;
        double expect;
    };
    const Row rows[] = {
        {"drums at 128", Kit::Drums, 128, std::nullopt, 128},
        {"drums at 128, tapped at half", Kit::Drums, 128, 64.5, 64},
        {"clicks at 174, tapped at half", Kit::Clicks, 174, 86.0, 87},
        {"drums at 87.5, tapped at double", Kit::Drums, 87.5, 176.0, 175},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<float> audio(static_cast<std::size_t>(30 * kRate), 0.0f);
        Noise noise(3);
        addBeats(audio, row.kit, row.bpm, 0.21, 0, 30, 2, noise);
        LiveTempo live({kRate});
        live.setTempoPrior(row.tapped);
        const Heard heard = listen(live, audio, row.expect);
        EXPECT_GE(heard.lockedAt, 0);
        EXPECT_LE(heard.lockedAt, 10.0);
        EXPECT_EQ(heard.last.state, LockState::Locked);
        EXPECT_NEAR(heard.last.bpm, row.expect, 0.02);
        EXPECT_LT(heard.last.uncertainty, 0.05);
        EXPECT_LT(phaseError(heard.last.beatSeconds, 0.21, row.bpm), 0.010);
        EXPECT_GT(heard.last.beatSeconds, 29.0);
    }
}

TEST(LiveTempo, SilenceIsNoBeatAndARestartForgetsTheLock) {
    std::vector<float> audio(static_cast<std::size_t>(20 * kRate), 0.0f);
    Noise noise(4);
    addBeats(audio, Kit::Drums, 120, 0.1, 0, 12, 2, noise);
    LiveTempo live({kRate});
    Heard heard = listen(live, std::vector<float>(audio.begin(), audio.begin() + 12 * 11025), 120);
    EXPECT_EQ(heard.last.state, LockState::Locked);
    // The music stops: after a few seconds of silence there is no beat.
    heard = listen(live, std::vector<float>(audio.begin() + 12 * 11025, audio.end()), 120);
    EXPECT_EQ(heard.last.state, LockState::NoBeat);
    EXPECT_EQ(heard.last.bpm, 0.0);
    live.restart();
    EXPECT_EQ(live.update(), std::nullopt);
    heard = listen(live, std::vector<float>(audio.begin(), audio.begin() + 3 * 11025), 120);
    EXPECT_NE(heard.last.state, LockState::Locked);
}

}  // namespace
}  // namespace pulsaro::analysis

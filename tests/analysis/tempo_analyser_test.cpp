#include "analysis/tempo_analyser.h"

#include "synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace pulsaro::analysis {
namespace {

using testing::addBeats;
using testing::Kit;
using testing::kRate;
using testing::Noise;

TempoEstimate analyse(const std::vector<float>& audio, std::size_t block = 1 << 20,
                      AnalysisOptions options = {}) {
    options.sampleRate = kRate;
    TempoAnalyser analyser(options);
    for (std::size_t at = 0; at < audio.size(); at += block) {
        analyser.feed(std::span(audio).subspan(at, std::min(block, audio.size() - at)));
    }
    return analyser.finish();
}

// Distance of t from the nearest beat of a grid, seconds.
double phaseError(double t, double firstBeat, double bpm) {
    const double period = 60.0 / bpm;
    const double r = std::remainder(t - firstBeat, period);
    return std::abs(r);
}

struct SteadyCase {
    const char* name;
    Kit kit;
    double bpm;
    double firstBeat;
    double jitterMs;
};

class SteadyTempo : public ::testing::TestWithParam<SteadyCase> {};

TEST_P(SteadyTempo, TempoPhaseAndOctave) {
    const SteadyCase& c = GetParam();
    std::vector<float> audio(static_cast<std::size_t>(30 * kRate), 0.0f);
    Noise noise(7);
    addBeats(audio, c.kit, c.bpm, c.firstBeat, 0, 30, c.jitterMs, noise);
    const TempoEstimate e = analyse(audio);
    ASSERT_EQ(e.outcome, Outcome::Constant);
    EXPECT_NEAR(e.bpm, c.bpm, 0.05);
    EXPECT_GT(e.uncertainty, 0.0);
    EXPECT_LT(e.uncertainty, 0.2);
    EXPECT_LT(phaseError(e.firstBeatSeconds, c.firstBeat, c.bpm), 0.010);
    EXPECT_LT(e.firstBeatSeconds, 60.0 / c.bpm + 0.01);
    EXPECT_NEAR(std::min(e.otherOctaveBpm / e.bpm, e.bpm / e.otherOctaveBpm), 0.5, 1e-9);
    ASSERT_FALSE(e.beats.empty());
    for (double t : e.beats) {
        ASSERT_LT(phaseError(t, c.firstBeat, c.bpm), 0.010) << t;
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, SteadyTempo,
                         ::testing::Values(SteadyCase{"clicks120", Kit::Clicks, 120, 0.3, 0},
                                           SteadyCase{"clicks140jitter", Kit::Clicks, 140, 0.05, 3},
                                           SteadyCase{"drums87_5", Kit::Drums, 87.5, 0.61, 3},
                                           SteadyCase{"drums120", Kit::Drums, 120, 0.123, 3},
                                           SteadyCase{"drums128", Kit::Drums, 128, 0.4, 3},
                                           SteadyCase{"drums140", Kit::Drums, 140, 0.01, 3},
                                           SteadyCase{"drums174", Kit::Drums, 174, 0.2, 2},
                                           // Three beats a bar: not read as 2/3 or 3/2 of it.
                                           SteadyCase{"waltz96", Kit::Waltz, 96, 0.37, 2},
                                           SteadyCase{"waltz150", Kit::Waltz, 150, 0.08, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TempoAnalyser, TempoChangeGivesTwoSections) {
    std::vector<float> audio(static_cast<std::size_t>(40 * kRate), 0.0f);
    Noise noise(3);
    addBeats(audio, Kit::Drums, 120, 0.25, 0, 20, 2, noise);
    const double change = 0.25 + 40 * 0.5;  // the 41st beat, where 132 takes over
    addBeats(audio, Kit::Drums, 132, change, change, 40, 2, noise);
    const TempoEstimate e = analyse(audio);
    ASSERT_EQ(e.outcome, Outcome::TempoChanges);
    ASSERT_EQ(e.sections.size(), 2u);
    EXPECT_NEAR(e.sections[0].bpm, 120, 0.2);
    EXPECT_NEAR(e.sections[1].bpm, 132, 0.2);
    EXPECT_NEAR(e.sections[1].startSeconds, change, 1.0);
    EXPECT_LT(e.sections[0].startSeconds, 1.0);
    EXPECT_GT(e.sections[1].endSeconds, 39.0);
}

TEST(TempoAnalyser, NoBeatInSilenceNoiseOrTooLittle) {
    Noise noise(11);
    std::vector<float> white(static_cast<std::size_t>(20 * kRate));
    for (float& v : white) {
        v = static_cast<float>(0.3 * noise.next());
    }
    const std::vector<std::vector<float>> inputs = {
        std::vector<float>(static_cast<std::size_t>(20 * kRate), 0.0f), white,
        std::vector<float>(static_cast<std::size_t>(2 * kRate), 0.1f)};
    for (const auto& audio : inputs) {
        const TempoEstimate e = analyse(audio);
        EXPECT_EQ(e.outcome, Outcome::NoBeat);
        EXPECT_EQ(e.bpm, 0.0);
        EXPECT_TRUE(e.beats.empty());
    }
}

TEST(TempoAnalyser, BlockSizeDoesNotMatter) {
    std::vector<float> audio(static_cast<std::size_t>(20 * kRate), 0.0f);
    Noise noise(5);
    addBeats(audio, Kit::Drums, 126, 0.33, 0, 20, 2, noise);
    const TempoEstimate whole = analyse(audio);
    for (std::size_t block : {1u, 7u, 333u, 4097u}) {
        const TempoEstimate e = analyse(audio, block);
        EXPECT_EQ(e.bpm, whole.bpm) << block;
        EXPECT_EQ(e.beats, whole.beats) << block;
    }
}

TEST(TempoAnalyser, TapsChooseTheOctave) {
    std::vector<float> audio(static_cast<std::size_t>(30 * kRate), 0.0f);
    Noise noise(9);
    addBeats(audio, Kit::Drums, 120, 0.2, 0, 30, 2, noise);
    for (double tapped : {60.5, 119.0, 241.0}) {
        AnalysisOptions options;
        options.tempoPrior = tapped;
        const TempoEstimate e = analyse(audio, 4096, options);
        ASSERT_EQ(e.outcome, Outcome::Constant) << tapped;
        EXPECT_NEAR(e.bpm, std::round(tapped / 60) * 60, 0.1) << tapped;
    }
}

TEST(TempoAnalyser, ProgressGrowsAndCancelStops) {
    std::vector<float> audio(static_cast<std::size_t>(60 * kRate), 0.0f);
    Noise noise(1);
    addBeats(audio, Kit::Drums, 128, 0.1, 0, 60, 2, noise);
    AnalysisOptions options;
    options.sampleRate = kRate;
    options.expectedSeconds = 60;
    {
        TempoAnalyser analyser(options);
        double last = analyser.progress();
        EXPECT_EQ(last, 0.0);
        for (std::size_t at = 0; at < audio.size(); at += audio.size() / 4) {
            analyser.feed(std::span(audio).subspan(at, audio.size() / 4));
            EXPECT_GT(analyser.progress(), last);
            last = analyser.progress();
        }
        EXPECT_LT(last, 1.0);
        analyser.finish();
        EXPECT_EQ(analyser.progress(), 1.0);
        EXPECT_THROW(analyser.finish(), std::logic_error);
    }
    TempoAnalyser analyser(options);
    analyser.feed(audio);
    const std::atomic<bool> cancel{true};
    EXPECT_THROW(analyser.finish(&cancel), AnalysisCancelled);
}

}  // namespace
}  // namespace pulsaro::analysis

#include "analysis/tempo_analyser.h"

#include "synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <tuple>

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

struct ChangeCase {
    const char* name;
    std::vector<std::tuple<double, double, Kit>> sections;  // bpm, seconds, kit
};

class TempoChange : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(TempoChange, OneSectionPerTempo) {
    const ChangeCase& c = GetParam();
    double total = 0;
    for (const auto& section : c.sections) {
        total += std::get<1>(section);
    }
    std::vector<float> audio(static_cast<std::size_t>(total * kRate), 0.0f);
    Noise noise(3);
    std::vector<double> starts{0.25};  // each tempo starts on the last one's next beat
    for (const auto& [bpm, seconds, kit] : c.sections) {
        const double end = starts.back() + std::round(seconds * bpm / 60) * 60 / bpm;
        addBeats(audio, kit, bpm, starts.back(), starts.back(), end, 2, noise);
        starts.push_back(end);
    }
    const TempoEstimate e = analyse(audio);
    ASSERT_EQ(e.outcome, Outcome::TempoChanges);
    ASSERT_EQ(e.sections.size(), c.sections.size());
    for (std::size_t i = 0; i < c.sections.size(); ++i) {
        EXPECT_NEAR(e.sections[i].bpm, std::get<0>(c.sections[i]), 0.2) << i;
        EXPECT_NEAR(e.sections[i].startSeconds, i == 0 ? 0 : starts[i], 1.0) << i;
    }
    EXPECT_GT(e.sections.back().endSeconds, total - 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TempoChange,
    ::testing::Values(ChangeCase{"drums120to132", {{120, 20, Kit::Drums}, {132, 20, Kit::Drums}}},
                      // A DJ mix: the section with the most beats is a third of the input and
                      // its clicks a small share of the onsets.
                      ChangeCase{
                          "mix128_157_128",
                          {{128, 30, Kit::Drums}, {157, 30, Kit::Clicks}, {128, 30, Kit::Drums}}}),
    [](const auto& info) { return std::string(info.param.name); });

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

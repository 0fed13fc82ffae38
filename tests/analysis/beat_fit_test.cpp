#include "analysis/beat_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace pulsaro::analysis {
namespace {

struct Pieces {
    const char* name;
    // (beats, bpm) stretches, each going on from where the last ended; a
    // negative count shifts the phase by that many hundredths of a beat.
    std::vector<std::pair<int, double>> stretches;
    std::vector<double> sectionBpms;  // expected: one per tempo
};

std::vector<double> beatTimes(const Pieces& p) {
    std::vector<double> t;
    double at = 1.234;
    double period = 0.5;
    int n = 0;
    for (auto [count, bpm] : p.stretches) {
        if (count < 0) {
            at += -count / 100.0 * period;
            continue;
        }
        period = 60.0 / bpm;
        for (int i = 0; i < count; ++i, ++n) {
            // A few ms of deterministic scatter, as a tracker leaves.
            t.push_back(at + 0.004 * std::sin(n * 2.3));
            at += period;
        }
    }
    return t;
}

class Segmentation : public ::testing::TestWithParam<Pieces> {};

TEST_P(Segmentation, OneRunPerTempo) {
    const Pieces& p = GetParam();
    const std::vector<double> t = beatTimes(p);
    const BeatSegmentation s = segmentBeats(beatIndices(t), t);
    ASSERT_EQ(s.runs.size(), p.sectionBpms.size());
    for (std::size_t r = 0; r < s.runs.size(); ++r) {
        EXPECT_NEAR(s.runs[r].line.bpm(), p.sectionBpms[r], 0.05) << r;
        EXPECT_GT(s.runs[r].line.bpmUncertainty95(), 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Beats, Segmentation,
    ::testing::Values(Pieces{"steady", {{64, 128}}, {128}},
                      Pieces{"change", {{40, 120}, {40, 132}}, {120, 132}},
                      Pieces{"threeTempi", {{30, 100}, {30, 110}, {30, 95}}, {100, 110, 95}},
                      // The tracker slipped by a third of a beat: still one tempo.
                      Pieces{"phaseSlip", {{30, 140}, {-33, 0}, {30, 140}}, {140}},
                      // The tracker strayed to another level now and then: no one
                      // break halves the misfit of the whole.
                      Pieces{"manyStrays",
                             {{200, 128},
                              {12, 170.67},
                              {200, 128},
                              {12, 170.67},
                              {200, 128},
                              {12, 170.67},
                              {200, 128},
                              {12, 170.67},
                              {200, 128}},
                             {128}},
                      // A drift of under 1 % is no change.
                      Pieces{"nearlySame", {{32, 120}, {32, 120.6}}, {120.3}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BeatFit, SkippedBeatsKeepTheirNumbers) {
    std::vector<double> t;
    for (int k : {0, 1, 2, 4, 5, 6, 9, 10, 11, 12}) {
        t.push_back(0.3 + k * 0.45);
    }
    const std::vector<std::int64_t> expected = {0, 1, 2, 4, 5, 6, 9, 10, 11, 12};
    EXPECT_EQ(beatIndices(t), expected);
    const BeatLine line = fitLine(expected, t, 0, t.size());
    EXPECT_NEAR(line.period, 0.45, 1e-12);
    EXPECT_NEAR(line.intercept, 0.3, 1e-12);
    EXPECT_NEAR(line.bpmUncertainty95(), 0.0, 1e-9);
}

TEST(BeatFit, UncertaintyShrinksWithMoreBeats) {
    double last = 1e9;
    for (int n : {16, 64, 256}) {
        Pieces p{"", {{n, 120}}, {}};
        const std::vector<double> t = beatTimes(p);
        const BeatLine line = fitLine(beatIndices(t), t, 0, t.size());
        EXPECT_NEAR(line.bpm(), 120, 0.05);
        EXPECT_LT(line.bpmUncertainty95(), last);
        last = line.bpmUncertainty95();
    }
}

}  // namespace
}  // namespace pulsaro::analysis

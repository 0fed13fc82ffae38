#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pulsaro::analysis {

// A straight line through beat times: t = intercept + period * index.
struct BeatLine {
    double period = 0;      // seconds per beat
    double intercept = 0;   // seconds at index 0
    double periodSe = 0;    // standard error of the period
    double rms = 0;         // of the residuals
    std::size_t count = 0;  // beats the line was fitted through
    std::int64_t dof = 0;   // residual degrees of freedom

    double bpm() const { return 60.0 / period; }
    // Half-width of the 95 % confidence interval of bpm().
    double bpmUncertainty95() const;
};

// Beat numbers for tracked beat times: each gap counts as the whole number of
// beats nearest to it in units of the local typical gap, so a beat the
// tracker skipped does not bend the line.
std::vector<std::int64_t> beatIndices(const std::vector<double>& times);

// Least squares through (indices[i], times[i]) for i in [begin, end).
BeatLine fitLine(const std::vector<std::int64_t>& indices, const std::vector<double>& times,
                 std::size_t begin, std::size_t end);

// A run of beats that one tempo fits; the phase may jump between the parts of
// a run (the tracker slipped by a fraction of a beat), the tempo may not.
struct BeatRun {
    std::vector<std::size_t> partStarts;  // beat positions where each part starts
    std::size_t begin = 0, end = 0;       // beats [begin, end)
    BeatLine line;                        // shared period; intercept of the longest part
};

struct BeatSegmentation {
    std::vector<BeatRun> runs;  // in time order; one run when the tempo holds
    std::vector<bool> used;     // beats that fit their run (outliers dropped)
};

struct SegmentationLimits {
    double rmsSeconds = 0.012;         // a part is straight when its residuals stay under this
    double junkRmsSeconds = 0.03;      // a part that scatters more than this fits no tempo
    std::size_t minBeats = 8;          // shortest part
    std::size_t minSectionBeats = 16;  // shortest tempo of its own
    // Parts whose tempi differ less than this share, or less than their
    // combined uncertainty, are one tempo.
    double sameTempoRatio = 0.01;
};

// Splits the beats where they stop fitting one line, then joins neighbouring
// parts that share a tempo.
BeatSegmentation segmentBeats(const std::vector<std::int64_t>& indices,
                              const std::vector<double>& times,
                              const SegmentationLimits& limits = {});

}  // namespace pulsaro::analysis

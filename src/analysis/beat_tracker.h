#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace pulsaro::analysis {

struct TrackedBeat {
    double frame = 0;   // onset-function frame, refined to a fraction of a frame
    double weight = 0;  // onset strength at the beat
};

// qm-dsp's TempoTrackV2 run through windows of a few minutes that overlap, so
// its matrices stay small for any length of input. With a tempo (BPM), the
// tracker keeps to beats near it; without one it prefers beats near 120.
// `done` is told the fraction of the frames tracked; throws AnalysisCancelled.
std::vector<TrackedBeat> trackBeats(const std::vector<float>& onsets, double framesPerSecond,
                                    std::optional<double> tempo, const std::atomic<bool>* cancel,
                                    const std::function<void(double)>& done);

}  // namespace pulsaro::analysis

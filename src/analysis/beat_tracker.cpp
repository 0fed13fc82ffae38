#include "analysis/beat_tracker.h"

#include "analysis/tempo_analyser.h"

#include <qm-dsp/dsp/tempotracking/TempoTrackV2.h>

#include <algorithm>
#include <cmath>

namespace pulsaro::analysis {

namespace {

// About 95 s per window with 12 s shared by neighbours: long enough for the
// tracker's tempo path to settle, short enough that the window's matrices
// are a few megabytes.
constexpr std::size_t kWindowFrames = 8192;
constexpr std::size_t kOverlapFrames = 1024;

// The strongest onset within two frames of a beat, timed by its steepest
// rise (the parabola through the rises around it places it between frames):
// a kick's onset value peaks later after the note starts than a click's, but
// both rise at the start.
TrackedBeat refine(const std::vector<float>& onsets, std::size_t frame) {
    const std::size_t lo = frame >= 2 ? frame - 2 : 0;
    const std::size_t hi = std::min(onsets.size() - 1, frame + 2);
    std::size_t peak = frame;
    for (std::size_t j = lo; j <= hi; ++j) {
        if (onsets[j] > onsets[peak]) {
            peak = j;
        }
    }
    const auto rise = [&](std::size_t j) {
        return j == 0 || j >= onsets.size() ? 0.0 : double{onsets[j]} - onsets[j - 1];
    };
    std::size_t steepest = peak;
    for (std::size_t j = peak >= 2 ? peak - 2 : 0; j < peak; ++j) {
        if (rise(j) > rise(steepest)) {
            steepest = j;
        }
    }
    double offset = 0;
    if (steepest > 1) {
        const double a = rise(steepest - 1), b = rise(steepest), c = rise(steepest + 1);
        const double curve = a - 2 * b + c;
        if (curve < 0) {
            offset = std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
        }
    }
    // The rise into frame j happens between frames j - 1 and j.
    return {static_cast<double>(steepest) - 0.5 + offset, onsets[peak]};
}

}  // namespace

std::vector<TrackedBeat> trackBeats(const std::vector<float>& onsets, double framesPerSecond,
                                    std::optional<double> tempo, const std::atomic<bool>* cancel,
                                    const std::function<void(double)>& done) {
    std::vector<TrackedBeat> beats;
    const std::size_t n = onsets.size();
    if (n < 16) {
        return beats;
    }
    // The tracker takes the rate only to report tempi; 44.1 kHz in hops of
    // 512 is the frame rate it was tuned for, and the onsets run at it.
    TempoTrackV2 tracker(static_cast<float>(framesPerSecond * 512.0), 512);
    const std::size_t step = kWindowFrames - kOverlapFrames;
    for (std::size_t start = 0; start < n; start += step) {
        if (cancel != nullptr && cancel->load()) {
            throw AnalysisCancelled();
        }
        const std::size_t end = std::min(n, start + kWindowFrames);
        std::vector<double> df(onsets.begin() + static_cast<std::ptrdiff_t>(start),
                               onsets.begin() + static_cast<std::ptrdiff_t>(end));
        // The tracker writes the periods by index; it does not size them.
        std::vector<double> periods(df.size()), tempi, found;
        tracker.calculateBeatPeriod(df, periods, tempi, tempo.value_or(120.0), tempo.has_value());
        tracker.calculateBeats(df, periods, found);
        // Each window keeps the beats nearer its own middle than a neighbour's.
        const double keepFrom = start == 0 ? 0.0 : static_cast<double>(kOverlapFrames) / 2;
        const double keepTo = end == n ? static_cast<double>(end - start)
                                       : static_cast<double>(end - start - kOverlapFrames / 2);
        for (double f : found) {
            if (f >= keepFrom && f < keepTo) {
                beats.push_back(refine(onsets, start + static_cast<std::size_t>(std::lround(f))));
            }
        }
        done(static_cast<double>(end) / static_cast<double>(n));
        if (end == n) {
            break;
        }
    }
    // Refinement can move neighbours onto one peak near a window's edge.
    beats.erase(std::unique(beats.begin(), beats.end(),
                            [](const TrackedBeat& a, const TrackedBeat& b) {
                                return std::abs(a.frame - b.frame) < 2.0;
                            }),
                beats.end());
    return beats;
}

}  // namespace pulsaro::analysis

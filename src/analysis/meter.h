#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pulsaro::analysis {

class OnsetFunction;

// How the onset function repeats: its autocorrelation (mean removed, 1 at lag
// 0), for each onset band, up to a few bars.
struct Periodicity {
    std::vector<double> broadband, low, high;

    // The strongest correlation within a frame of `lag` (interpolated);
    // 0 beyond the lags computed.
    static double at(const std::vector<double>& acf, double lag);
};

// Of frames [from, to) only, by default all of them. Throws AnalysisCancelled.
Periodicity measurePeriodicity(const OnsetFunction& onsets, std::size_t maxLag,
                               const std::atomic<bool>* cancel, std::size_t from = 0,
                               std::size_t to = SIZE_MAX);

// How strongly the music pulses at all at `periodFrames`: the broadband
// correlation there and at twice it. Noise stays near 0.
double pulseClarity(const Periodicity& p, double periodFrames);

struct OctaveChoice {
    double factor = 1;             // multiply the tracked tempo by this
    double otherOctaveFactor = 2;  // the runner-up, half or double `factor`
};

struct OctaveRange {
    double minBpm = 78, maxBpm = 185;
};

// The beat level among the tracked tempo's multiples (1/3 .. 3): first the
// one the accents of the music repeat at, then the preferred range.
OctaveChoice chooseOctave(const Periodicity& p, double trackedBpm, double framesPerSecond,
                          const OctaveRange& range);

// Mean onset strength of one band at intercept + k * period for the beats
// between `from` and `to` (seconds of input), each at its nearest frame.
double gridStrength(const std::vector<float>& band, const OnsetFunction& onsets, double intercept,
                    double period, double from, double to);

// Kick drums fall on the beat, seldom between: the intercept of a grid that
// settled on the off-beats, moved by half a beat when the low band says so
// clearly; else the intercept as given.
double onTheBeat(const OnsetFunction& onsets, double intercept, double period, double from,
                 double to);

}  // namespace pulsaro::analysis

#include "analysis/meter.h"

#include "analysis/onset_function.h"
#include "analysis/tempo_analyser.h"

#include <algorithm>
#include <cmath>

namespace pulsaro::analysis {

namespace {

std::vector<double> autocorrelation(const std::vector<float>& x, std::size_t maxLag,
                                    const std::atomic<bool>* cancel) {
    const std::size_t n = x.size();
    std::vector<double> acf(maxLag + 1, 0.0);
    if (n <= maxLag + 1) {
        return acf;
    }
    // Onset functions are spiky: the mean over half a second is removed, so a
    // loud passage does not read as correlation at every lag.
    constexpr std::size_t kHalf = 22;
    std::vector<double> y(n);
    double running = 0;
    std::size_t lo = 0, hi = 0;
    for (std::size_t i = 0; i < n; ++i) {
        while (hi < n && hi <= i + kHalf) {
            running += x[hi++];
        }
        while (lo + kHalf < i) {
            running -= x[lo++];
        }
        y[i] = std::max(0.0, x[i] - running / static_cast<double>(hi - lo));
    }
    constexpr std::size_t kBlock = 4096;
    for (std::size_t b = 0; b < n; b += kBlock) {
        if (cancel != nullptr && cancel->load()) {
            throw AnalysisCancelled();
        }
        const std::size_t e = std::min(n, b + kBlock);
        for (std::size_t lag = 0; lag <= maxLag; ++lag) {
            double s = 0;
            const std::size_t last = std::min(e, n - lag);
            for (std::size_t i = b; i < last; ++i) {
                s += y[i] * y[i + lag];
            }
            acf[lag] += s;
        }
    }
    const double zero = acf[0];
    for (std::size_t lag = 0; lag <= maxLag; ++lag) {
        // Unbiased: each lag over the pairs it has.
        acf[lag] = zero > 0
                       ? acf[lag] / zero * static_cast<double>(n) / static_cast<double>(n - lag)
                       : 0.0;
    }
    return acf;
}

}  // namespace

double Periodicity::at(const std::vector<double>& acf, double lag) {
    if (lag < 1 || lag + 2 >= static_cast<double>(acf.size())) {
        return 0;
    }
    const auto c = static_cast<std::size_t>(std::lround(lag));
    double best = acf[c];
    for (std::size_t j = c - 1; j <= c + 1; ++j) {
        best = std::max(best, acf[j]);
    }
    return best;
}

Periodicity measurePeriodicity(const OnsetFunction& onsets, std::size_t maxLag,
                               const std::atomic<bool>* cancel) {
    Periodicity p;
    p.broadband = autocorrelation(onsets.broadband(), maxLag, cancel);
    p.low = autocorrelation(onsets.low(), maxLag, cancel);
    p.high = autocorrelation(onsets.high(), maxLag, cancel);
    return p;
}

double pulseClarity(const Periodicity& p, double periodFrames) {
    return std::max(Periodicity::at(p.broadband, periodFrames),
                    Periodicity::at(p.broadband, 2 * periodFrames));
}

OctaveChoice chooseOctave(const Periodicity& /*p*/, double trackedBpm, double /*framesPerSecond*/,
                          const OctaveRange& range) {
    OctaveChoice c;
    double bpm = trackedBpm;
    while (bpm > range.maxBpm) {
        bpm /= 2;
        c.factor /= 2;
    }
    while (bpm < range.minBpm) {
        bpm *= 2;
        c.factor *= 2;
    }
    const double middle = std::sqrt(range.minBpm * range.maxBpm);
    c.otherOctaveFactor = bpm < middle ? 2 * c.factor : c.factor / 2;
    return c;
}

}  // namespace pulsaro::analysis

#include "analysis/meter.h"

#include "analysis/onset_function.h"
#include "analysis/tempo_analyser.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace pulsaro::analysis {

namespace {

std::vector<double> autocorrelation(std::span<const float> x, std::size_t maxLag,
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
                               const std::atomic<bool>* cancel, std::size_t from, std::size_t to) {
    const auto range = [&](const std::vector<float>& band) {
        const std::size_t end = std::min(to, band.size());
        return std::span(band).subspan(std::min(from, end), end - std::min(from, end));
    };
    Periodicity p;
    p.broadband = autocorrelation(range(onsets.broadband()), maxLag, cancel);
    p.low = autocorrelation(range(onsets.low()), maxLag, cancel);
    p.high = autocorrelation(range(onsets.high()), maxLag, cancel);
    return p;
}

double pulseClarity(const Periodicity& p, double periodFrames) {
    // Above the correlation's typical level over the lags, which even noise
    // reaches: onset values are never negative.
    const auto& acf = p.broadband;
    if (acf.size() < 8) {
        return 0;
    }
    std::vector<double> lags(acf.begin() + static_cast<std::ptrdiff_t>(acf.size() / 16), acf.end());
    std::nth_element(lags.begin(), lags.begin() + static_cast<std::ptrdiff_t>(lags.size() / 2),
                     lags.end());
    const double typical = lags[lags.size() / 2];
    return std::max(Periodicity::at(acf, periodFrames), Periodicity::at(acf, 2 * periodFrames)) -
           typical;
}

namespace {

// How strongly all three bands repeat at one to four beat periods: a grid
// whose bar (three or four beats) the music comes round on scores at every
// lag, one a third off the beat only at some of them.
double metricalStrength(const Periodicity& p, double period) {
    double sum = 0;
    for (const auto* acf : {&p.broadband, &p.low, &p.high}) {
        for (double beats = 1; beats <= 4; beats += 1) {
            sum += Periodicity::at(*acf, beats * period);
        }
    }
    return sum / 12;
}

double bandMean(const Periodicity& p, double period) {
    return (Periodicity::at(p.broadband, period) + Periodicity::at(p.low, period) +
            Periodicity::at(p.high, period)) /
           3;
}

// The tracker may follow a pulse two or four thirds of the beat (dotted
// notes, shuffles); another grid replaces its own only when the accents
// repeat on it clearly more strongly.
constexpr double kOtherGridGain = 1.1;
// A level counts as the beat when the music repeats at it nearly as strongly
// as at twice its period: the kick-and-snare pattern alternates there rather
// than only every other beat.
constexpr double kBeatLevelShare = 0.8;
// Beats split in three with nothing at their halves are as often a duple
// grid two thirds as long, tracked at its dotted quarter: that grid is taken
// when the accents repeat on it nearly as strongly (triple-time music that
// is not shuffled reaches about 0.7 of its own grid there).
constexpr double kEmptyHalf = 0.15;
constexpr double kDupleGridShare = 0.85;

}  // namespace

OctaveChoice chooseOctave(const Periodicity& p, double trackedBpm, double framesPerSecond,
                          const OctaveRange& range) {
    const auto period = [&](double bpm) { return framesPerSecond * 60.0 / bpm; };
    OctaveChoice c;
    double grid = 1;
    const double own = metricalStrength(p, period(trackedBpm));
    double best = own;
    for (double f : {2.0 / 3, 4.0 / 3, 3.0 / 2, 3.0 / 4}) {
        const double s = metricalStrength(p, period(trackedBpm * f));
        if (s > kOtherGridGain * own && s > best) {
            best = s;
            grid = f;
        }
    }
    if (grid == 1) {
        const double beat = period(trackedBpm);
        const double half = Periodicity::at(p.broadband, beat / 2);
        const double third = Periodicity::at(p.broadband, beat / 3);
        if (half < kEmptyHalf && third > 2 * kEmptyHalf &&
            metricalStrength(p, period(trackedBpm * 1.5)) >= kDupleGridShare * own) {
            grid = 1.5;
        }
    }
    // The fastest level in the preferred range that carries the beat; else
    // the level in the range nearest its middle.
    const double middle = std::sqrt(range.minBpm * range.maxBpm);
    double chosen = 0, nearest = 0;
    for (double f = grid / 8; f <= grid * 8; f *= 2) {
        const double bpm = trackedBpm * f;
        if (bpm < range.minBpm || bpm > range.maxBpm) {
            continue;
        }
        if (nearest == 0 ||
            std::abs(std::log(bpm / middle)) < std::abs(std::log(trackedBpm * nearest / middle))) {
            nearest = f;
        }
        const double twice = bandMean(p, 2 * period(bpm));
        if (twice > 0 && bandMean(p, period(bpm)) >= kBeatLevelShare * twice) {
            chosen = f;
        }
    }
    if (chosen == 0) {
        chosen = nearest;
    }
    if (chosen == 0) {
        // The range holds no level of this grid (it spans less than an octave
        // only when set so); the tracker's own level stands.
        chosen = grid;
    }
    c.factor = chosen;
    c.otherOctaveFactor = trackedBpm * chosen < middle ? 2 * chosen : chosen / 2;
    return c;
}

double gridStrength(const std::vector<float>& band, const OnsetFunction& onsets, double intercept,
                    double period, double from, double to) {
    double sum = 0;
    int n = 0;
    for (double k = std::ceil((from - intercept) / period); intercept + k * period <= to; k += 1) {
        // The band's peak lies within a frame of the beat's rise.
        const auto f = std::llround(onsets.frameAt(intercept + k * period));
        if (f >= 1 && f + 1 < static_cast<std::int64_t>(band.size())) {
            const auto i = static_cast<std::size_t>(f);
            sum += std::max({band[i - 1], band[i], band[i + 1]});
            ++n;
        }
    }
    return n == 0 ? 0 : sum / n;
}

double onTheBeat(const OnsetFunction& onsets, double intercept, double period, double from,
                 double to) {
    constexpr double kOffBeatGain = 1.5;
    const double on = gridStrength(onsets.low(), onsets, intercept, period, from, to);
    const double off = gridStrength(onsets.low(), onsets, intercept + period / 2, period, from, to);
    return off > kOffBeatGain * on ? intercept + period / 2 : intercept;
}

}  // namespace pulsaro::analysis

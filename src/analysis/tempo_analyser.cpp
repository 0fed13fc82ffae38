#include "analysis/tempo_analyser.h"

#include "analysis/beat_fit.h"
#include "analysis/beat_tracker.h"
#include "analysis/meter.h"
#include "analysis/onset_function.h"

#include <algorithm>
#include <cmath>

namespace pulsaro::analysis {

namespace {

// Quieter than this (RMS, about -80 dBFS) is silence.
constexpr double kSilentMeanSquare = 1e-8;
// Less input than this holds too few beats to fit.
constexpr double kMinSeconds = 4.0;
// Below this the onsets do not repeat at the tracked beat: noise, or music
// without a pulse; the tracker finds "beats" in anything.
constexpr double kMinPulseClarity = 0.12;
// A run's own correlation is measured over at least this many seconds: two
// of the longest lags, so that every lag has half the run's frames.
constexpr double kMinClearRunSeconds = 12.0;
// Beats weaker than this share of the typical beat lie in silence.
constexpr double kWeakBeat = 0.1;
// Feeding is most of the work when the length is known.
constexpr double kFeedShare = 0.7;

struct Fitted {
    std::vector<double> times;
    BeatSegmentation segmentation;
    std::size_t longest = 0;  // the run with the most beats

    bool valid() const {
        return !segmentation.runs.empty() && segmentation.runs[longest].line.period > 0 &&
               segmentation.runs[longest].line.count >= 8;
    }
    const BeatLine& line() const { return segmentation.runs[longest].line; }
};

Fitted fitBeats(const std::vector<TrackedBeat>& beats, const OnsetFunction& onsets) {
    Fitted f;
    std::vector<double> weights;
    for (const TrackedBeat& b : beats) {
        weights.push_back(b.weight);
    }
    std::vector<double> sorted = weights;
    std::sort(sorted.begin(), sorted.end());
    const double typical = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    for (const TrackedBeat& b : beats) {
        if (b.weight > kWeakBeat * typical) {
            f.times.push_back(onsets.frameSeconds(b.frame));
        }
    }
    if (f.times.size() < 8) {
        return f;
    }
    f.segmentation = segmentBeats(beatIndices(f.times), f.times);
    for (std::size_t r = 0; r < f.segmentation.runs.size(); ++r) {
        const BeatRun& run = f.segmentation.runs[r];
        const BeatRun& best = f.segmentation.runs[f.longest];
        if (run.end - run.begin > best.end - best.begin) {
            f.longest = r;
        }
    }
    return f;
}

// Whether some stretch of the input pulses clearly at its tracked tempo. The
// whole input's correlation speaks for one tempo; where the music changes
// tempo (a DJ mix) or its phase jumps, the others dilute it, so each run is
// also heard on its own.
bool clearPulse(const Fitted& fit, const OnsetFunction& onsets, const Periodicity& whole,
                std::size_t maxLag, const std::atomic<bool>* cancel) {
    const double fps = onsets.framesPerSecond();
    if (pulseClarity(whole, fit.line().period * fps) >= kMinPulseClarity) {
        return true;
    }
    for (const BeatRun& run : fit.segmentation.runs) {
        const double from = fit.times[run.begin], to = fit.times[run.end - 1];
        if (to - from < kMinClearRunSeconds) {
            continue;
        }
        const Periodicity own =
            measurePeriodicity(onsets, maxLag, cancel, static_cast<std::size_t>(from * fps),
                               static_cast<std::size_t>(to * fps));
        if (pulseClarity(own, run.line.period * fps) >= kMinPulseClarity) {
            return true;
        }
    }
    return false;
}

}  // namespace

struct TempoAnalyser::State {
    AnalysisOptions options;
    OnsetFunction onsets;
    bool finished = false;

    explicit State(const AnalysisOptions& o) : options(o), onsets(o.sampleRate) {}
};

TempoAnalyser::TempoAnalyser(const AnalysisOptions& options) {
    if (!(options.preferredMinBpm > 0) ||
        !(options.preferredMaxBpm >= 1.5 * options.preferredMinBpm)) {
        throw std::invalid_argument("TempoAnalyser: the preferred range must span half an octave");
    }
    if (options.tempoPrior && !(*options.tempoPrior > 0)) {
        throw std::invalid_argument("TempoAnalyser: the tempo prior must be positive");
    }
    state_ = std::make_unique<State>(options);
}

TempoAnalyser::~TempoAnalyser() = default;

void TempoAnalyser::feed(std::span<const float> mono) {
    if (state_->finished) {
        throw std::logic_error("TempoAnalyser: feed after finish");
    }
    state_->onsets.feed(mono);
    if (state_->options.expectedSeconds && *state_->options.expectedSeconds > 0) {
        progress_.store(kFeedShare *
                        std::min(1.0, secondsFed() / *state_->options.expectedSeconds));
    }
}

double TempoAnalyser::secondsFed() const {
    return static_cast<double>(state_->onsets.samplesFed()) / state_->options.sampleRate;
}

double TempoAnalyser::progress() const {
    return progress_.load();
}

TempoEstimate TempoAnalyser::finish(const std::atomic<bool>* cancel) {
    if (state_->finished) {
        throw std::logic_error("TempoAnalyser: finish called twice");
    }
    state_->finished = true;
    const AnalysisOptions& options = state_->options;
    const OnsetFunction& onsets = state_->onsets;
    const double fps = onsets.framesPerSecond();
    progress_.store(kFeedShare);
    auto advance = [this](double from, double to) {
        return
            [this, from, to](double fraction) { progress_.store(from + (to - from) * fraction); };
    };

    TempoEstimate estimate;
    const auto noBeat = [this, &estimate] {
        progress_.store(1.0);
        return estimate;
    };
    if (secondsFed() < kMinSeconds || onsets.meanSquare() < kSilentMeanSquare) {
        return noBeat();
    }

    // Lags up to four beats of the slowest grid the octave choice weighs (40 BPM).
    const auto maxLag = static_cast<std::size_t>(std::lround(6.0 * fps));
    const Periodicity periodicity = measurePeriodicity(onsets, maxLag, cancel);
    progress_.store(kFeedShare + 0.05);

    const std::vector<float>& df = onsets.broadband();
    Fitted fit = fitBeats(
        trackBeats(df, fps, options.tempoPrior, cancel, advance(kFeedShare + 0.05, 0.9)), onsets);
    if (!fit.valid() || !clearPulse(fit, onsets, periodicity, maxLag, cancel)) {
        return noBeat();
    }

    double otherFactor = 2;
    if (!options.tempoPrior) {
        const OctaveChoice choice = chooseOctave(
            periodicity, fit.line().bpm(), fps, {options.preferredMinBpm, options.preferredMaxBpm});
        otherFactor = choice.otherOctaveFactor / choice.factor;
        if (choice.factor != 1) {
            // Tracked again, held near the chosen level, so the beats (and
            // their phase) are that level's rather than the first pass's.
            Fitted again = fitBeats(
                trackBeats(df, fps, fit.line().bpm() * choice.factor, cancel, advance(0.9, 0.99)),
                onsets);
            if (again.valid()) {
                fit = std::move(again);
            }
        }
    } else {
        otherFactor = fit.line().bpm() > *options.tempoPrior ? 0.5 : 2;
    }

    BeatLine line = fit.line();
    if (fit.segmentation.runs.size() == 1) {
        const BeatRun& run = fit.segmentation.runs.front();
        const double from = fit.times[run.begin], to = fit.times[run.end - 1];
        line.intercept = onTheBeat(onsets, line.intercept, line.period, from, to);
    }
    estimate.bpm = line.bpm();
    estimate.uncertainty = line.bpmUncertainty95();
    estimate.otherOctaveBpm = estimate.bpm * otherFactor;
    const BeatSegmentation& seg = fit.segmentation;
    if (seg.runs.size() == 1) {
        estimate.outcome = Outcome::Constant;
        const BeatRun& run = seg.runs.front();
        const double from = std::max(0.0, fit.times[run.begin] - line.period / 2);
        const double to = std::min(secondsFed(), fit.times[run.end - 1] + line.period / 2);
        const double first = std::ceil((from - line.intercept) / line.period);
        for (double k = first;; k += 1) {
            const double t = line.intercept + k * line.period;
            if (t > to) {
                break;
            }
            estimate.beats.push_back(t);
        }
        const double k0 = std::ceil(-line.intercept / line.period);
        estimate.firstBeatSeconds = line.intercept + k0 * line.period;
        estimate.sections.push_back({fit.times[run.begin], fit.times[run.end - 1], estimate.bpm});
    } else {
        estimate.outcome = Outcome::TempoChanges;
        for (std::size_t i = 0; i < fit.times.size(); ++i) {
            if (seg.used[i]) {
                estimate.beats.push_back(fit.times[i]);
            }
        }
        estimate.firstBeatSeconds = estimate.beats.empty() ? 0 : estimate.beats.front();
        for (std::size_t r = 0; r < seg.runs.size(); ++r) {
            const BeatRun& run = seg.runs[r];
            const double end =
                r + 1 < seg.runs.size() ? fit.times[seg.runs[r + 1].begin] : fit.times[run.end - 1];
            estimate.sections.push_back({fit.times[run.begin], end, run.line.bpm()});
        }
    }
    progress_.store(1.0);
    return estimate;
}

}  // namespace pulsaro::analysis

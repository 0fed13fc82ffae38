#include "analysis/live_tempo.h"

#include "analysis/beat_fit.h"
#include "analysis/beat_tracker.h"
#include "analysis/meter.h"
#include "analysis/onset_function.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <stdexcept>
#include <vector>

namespace pulsaro::analysis {

namespace {

// The tracker looks back this far: a minute of beats pins the tempo to a
// hundredth of a BPM, and one pass over it costs a few milliseconds.
constexpr double kWindowSeconds = 60.0;
// Onset frames kept beyond the window (the band functions of older input
// are not needed again).
constexpr double kKeepSeconds = 75.0;
// Nothing is estimated from less input than this.
constexpr double kFirstEstimateSeconds = 3.0;
// Estimates come twice a second while the lock is being found, then once.
constexpr double kEarlyStep = 0.5;
constexpr double kStep = 1.0;
constexpr double kEarlySeconds = 12.0;
// Quieter than this (RMS about -70 dBFS) over the last seconds is silence.
constexpr double kSilentMeanSquare = 1e-7;
constexpr double kSilenceSeconds = 2.0;
// As in the file analysis: below this the onsets do not repeat at the beat.
constexpr double kMinPulseClarity = 0.12;
constexpr double kWeakBeat = 0.1;
constexpr std::size_t kMinBeats = 8;
constexpr std::size_t kTrackerFrames = 800;
// Taps this close to an octave of the heard tempo count in it.
constexpr double kOctaveShare = 0.06;
// Two estimates in a row hold the same tempo and phase: locked.
constexpr double kSameTempoBpm = 0.3;
constexpr double kSamePhaseSeconds = 0.03;

}  // namespace

struct LiveTempo::State {
    LiveTempoOptions options;
    std::unique_ptr<OnsetFunction> onsets;
    std::optional<double> prior;
    double nextEstimateAt = kFirstEstimateSeconds;
    HeardTempo latest;
    // The finer of the counted and tracked beats' spacing of the last estimate.
    double lastSpacing = 1e9;
    // Mean square of the input in blocks of a quarter second, newest last.
    std::deque<double> loudness;
    double blockSum = 0;
    std::size_t blockFill = 0;
    std::size_t blockLength = 0;

    explicit State(const LiveTempoOptions& o)
        : options(o),
          onsets(std::make_unique<OnsetFunction>(o.sampleRate)),
          blockLength(static_cast<std::size_t>(o.sampleRate / 4)) {}

    double fedSeconds() const {
        return static_cast<double>(onsets->samplesFed()) / options.sampleRate;
    }

    bool silent() const {
        const auto blocks = static_cast<std::size_t>(kSilenceSeconds * 4);
        if (loudness.size() < blocks) {
            return false;
        }
        return std::all_of(loudness.end() - static_cast<std::ptrdiff_t>(blocks), loudness.end(),
                           [](double m) { return m < kSilentMeanSquare; });
    }

    HeardTempo estimate();
};

LiveTempo::LiveTempo(const LiveTempoOptions& options) {
    if (!(options.preferredMinBpm > 0) ||
        !(options.preferredMaxBpm >= 1.5 * options.preferredMinBpm)) {
        throw std::invalid_argument("LiveTempo: the preferred range must span half an octave");
    }
    state_ = std::make_unique<State>(options);
}

LiveTempo::~LiveTempo() = default;

void LiveTempo::feed(std::span<const float> mono) {
    State& s = *state_;
    s.onsets->feed(mono);
    for (const float v : mono) {
        s.blockSum += double{v} * v;
        if (++s.blockFill == s.blockLength) {
            s.loudness.push_back(s.blockSum / static_cast<double>(s.blockLength));
            if (s.loudness.size() > 64) {
                s.loudness.pop_front();
            }
            s.blockSum = 0;
            s.blockFill = 0;
        }
    }
}

std::optional<HeardTempo> LiveTempo::update() {
    State& s = *state_;
    const double fed = s.fedSeconds();
    if (fed < s.nextEstimateAt) {
        return std::nullopt;
    }
    s.nextEstimateAt = fed + (fed < kEarlySeconds ? kEarlyStep : kStep);
    s.latest = s.estimate();
    s.onsets->keepLast(static_cast<std::size_t>(kKeepSeconds * s.onsets->framesPerSecond()));
    return s.latest;
}

const HeardTempo& LiveTempo::latest() const {
    return state_->latest;
}

void LiveTempo::setTempoPrior(std::optional<double> bpm) {
    if (bpm && !(*bpm > 0)) {
        throw std::invalid_argument("LiveTempo: the tempo prior must be positive");
    }
    if (bpm != state_->prior) {
        state_->prior = bpm;
        // Heard again at once with the new tempo in mind.
        state_->nextEstimateAt = std::min(state_->nextEstimateAt, state_->fedSeconds());
    }
}

void LiveTempo::restart() {
    const std::optional<double> prior = state_->prior;
    state_ = std::make_unique<State>(state_->options);
    state_->prior = prior;
}

HeardTempo LiveTempo::State::estimate() {
    const HeardTempo previous = latest;
    HeardTempo heard;
    heard.fedSeconds = fedSeconds();
    if (silent()) {
        heard.state = LockState::NoBeat;
        heard.silence = true;
        return heard;
    }
    const OnsetFunction& f = *onsets;
    const double fps = f.framesPerSecond();
    const std::vector<float>& all = f.broadband();
    const std::size_t windowFrames =
        std::min(all.size(), static_cast<std::size_t>(kWindowSeconds * fps));
    const std::size_t first = all.size() - windowFrames;
    // The tracker measures the beat period over six seconds at a time: less
    // input is heard after a silence that long.
    const std::size_t pad = kTrackerFrames > windowFrames ? kTrackerFrames - windowFrames : 0;
    std::vector<float> window(pad, 0.0f);
    window.insert(window.end(), all.begin() + static_cast<std::ptrdiff_t>(first), all.end());

    // The latest run of tracked beats one line fits, and where it lies.
    struct Fit {
        BeatLine line;
        double from = 0, to = 0;
    };
    const auto track = [&](std::optional<double> near) -> std::optional<Fit> {
        std::vector<TrackedBeat> beats = trackBeats(window, fps, near, nullptr, [](double) {});
        std::erase_if(beats,
                      [pad](const TrackedBeat& b) { return b.frame < static_cast<double>(pad); });
        std::vector<double> weights;
        for (const TrackedBeat& b : beats) {
            weights.push_back(b.weight);
        }
        std::nth_element(weights.begin(),
                         weights.begin() + static_cast<std::ptrdiff_t>(weights.size() / 2),
                         weights.end());
        const double typical = weights.empty() ? 0 : weights[weights.size() / 2];
        std::vector<double> times;
        for (const TrackedBeat& b : beats) {
            if (b.weight > kWeakBeat * typical) {
                times.push_back(f.frameSeconds(static_cast<double>(first) + b.frame -
                                               static_cast<double>(pad)));
            }
        }
        if (times.size() < kMinBeats) {
            return std::nullopt;
        }
        const BeatSegmentation segmentation = segmentBeats(beatIndices(times), times);
        if (segmentation.runs.empty()) {
            return std::nullopt;
        }
        const BeatRun& run = segmentation.runs.back();
        if (run.line.count < kMinBeats || !(run.line.period > 0)) {
            return std::nullopt;
        }
        return Fit{run.line, times[run.begin], times[run.end - 1]};
    };
    // Free, the tracker finds the music's own tempo; where that is no octave
    // of the taps' (a grid of three against four), it is held near the
    // taps' tempo, moved by octaves to the fastest level inside the
    // preferred range, whose beats it tells apart best.
    std::optional<Fit> fit = track(std::nullopt);
    if (prior) {
        const auto octaveOf = [&](double bpm) {
            const double ratio = *prior / bpm;
            return std::abs(ratio / std::exp2(std::round(std::log2(ratio))) - 1) <= kOctaveShare;
        };
        if (!fit || !octaveOf(fit->line.bpm())) {
            double near = *prior;
            while (near > options.preferredMaxBpm) {
                near /= 2;
            }
            while (near * 2 <= options.preferredMaxBpm) {
                near *= 2;
            }
            if (std::optional<Fit> held = track(near)) {
                fit = held;
            }
        }
    }
    if (!fit) {
        return heard;
    }
    BeatLine line = fit->line;
    const double from = fit->from, to = fit->to;
    // Lags up to four beats of 40 BPM, or half the stretch heard: every lag
    // is then measured over at least half of it.
    const auto maxLag = static_cast<std::size_t>(std::lround(std::min(6.0, (to - from) / 2) * fps));
    const Periodicity periodicity = measurePeriodicity(
        f, maxLag, nullptr, static_cast<std::size_t>(std::max(0.0, f.frameAt(from))),
        static_cast<std::size_t>(std::max(0.0, f.frameAt(to)) + 1));
    if (pulseClarity(periodicity, line.period * fps) < kMinPulseClarity) {
        heard.state = LockState::NoBeat;
        return heard;
    }

    // The octave: near the taps when there are any, else as the file
    // analysis chooses it. The grid is scaled rather than tracked again.
    double factor = 1;
    if (prior) {
        factor = std::exp2(std::round(std::log2(*prior / line.bpm())));
        factor = std::clamp(factor, 0.25, 4.0);
    } else {
        factor = chooseOctave(periodicity, line.bpm(), fps,
                              {options.preferredMinBpm, options.preferredMaxBpm})
                     .factor;
    }
    double period = line.period / factor;
    double uncertainty = line.bpmUncertainty95() * factor;
    // A slower level keeps the beats its low band accents most.
    double intercept = line.intercept;
    if (factor < 1) {
        double best = -1;
        const auto steps = static_cast<int>(std::lround(1 / factor));
        for (int k = 0; k < steps; ++k) {
            const double at = line.intercept + k * line.period;
            const double strength = gridStrength(f.low(), f, at, period, from, to);
            if (strength > best) {
                best = strength;
                intercept = at;
            }
        }
    } else {
        intercept = onTheBeat(f, intercept, period, from, to);
    }
    heard.bpm = 60.0 / period;
    heard.uncertainty = uncertainty;
    heard.spanSeconds = to - from;
    // The latest beat on the line.
    const double k = std::floor((to - intercept) / period + 0.5);
    heard.beatSeconds = intercept + k * period;

    const bool sameTempo = previous.bpm > 0 && std::abs(previous.bpm - heard.bpm) <=
                                                   std::max(kSameTempoBpm, 2 * uncertainty);
    // Where a slower level is counted, which of the tracked beats it starts
    // on is the taps' to choose: the phase is that of the tracked beats.
    // The tracked level may change from one estimate to the next; with taps,
    // which of two equal beats a slower count starts on is theirs to choose,
    // so a jump by half a beat keeps the lock.
    double spacing = std::min({period, line.period, lastSpacing});
    lastSpacing = std::min(period, line.period);
    if (prior) {
        spacing /= 2;
    }
    const double beatsApart = (heard.beatSeconds - previous.beatSeconds) / spacing;
    const bool samePhase =
        std::abs(beatsApart - std::round(beatsApart)) * spacing <= kSamePhaseSeconds;
    heard.state = sameTempo && samePhase ? LockState::Locked : LockState::Listening;
    return heard;
}

}  // namespace pulsaro::analysis

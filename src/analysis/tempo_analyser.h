#pragma once

// Tempo and beat analysis of recorded or live audio.
//
// Usage: make a TempoAnalyser with the rate of the samples, feed() it mono
// float samples (full scale +-1) in blocks of any size as they are decoded or
// captured, then call finish() once, from the same thread or another one.
// finish() tracks the beats through the onset function kept from feeding,
// fits one tempo and phase through them and decides the octave. A caller on
// another thread may read progress() at any time and set the cancel flag
// passed to finish(); a cancelled finish() throws AnalysisCancelled. feed()
// does not look at the flag: it costs about as much as the block it is given,
// so the caller checks between blocks.
//
// Best rate to feed: 11025 Hz. On the tempo corpus it finds the same tempi
// and beats as 22050 Hz (phase within a millisecond) at three quarters of the
// CPU time; any rate from 8000 Hz up is accepted. The onset function runs at
// about 86 frames a second whatever the rate.
//
// Memory: the samples are not kept, only three onset values per frame; the
// beat tracker works through windows of about 95 s, so its matrices do not
// grow with the length. Three hours fed peak at about 47 MB resident for the
// whole corpus runner, FFmpeg's and TagLib's libraries loaded with it
// (bench/tempo_corpus_bench.sh --hours 3).

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

namespace pulsaro::analysis {

struct AnalysisOptions {
    double sampleRate = 11025;
    // The beat is the fastest level inside this range at which the music's
    // accents repeat (kick and snare alternating); where no level does, the
    // one nearest the range's geometric middle.
    double preferredMinBpm = 78;
    double preferredMaxBpm = 185;
    // A tempo the user tapped: the tracker then follows the beat near it and
    // the octave is the one closest to it.
    std::optional<double> tempoPrior;
    // The length of the whole input when known (a file), for progress().
    std::optional<double> expectedSeconds;
};

enum class Outcome {
    Constant,      // one tempo and phase fit every beat
    TempoChanges,  // the beats need more than one tempo: see sections
    NoBeat,        // silence, noise or no regular pulse
};

struct TempoSection {
    double startSeconds = 0;
    double endSeconds = 0;
    double bpm = 0;
};

struct TempoEstimate {
    Outcome outcome = Outcome::NoBeat;
    // Constant: the fitted tempo. TempoChanges: the longest section's tempo.
    // NoBeat: 0.
    double bpm = 0;
    // Half the width of the fit's 95 % confidence interval, BPM.
    double uncertainty = 0;
    // The fitted grid's first beat at or after the start of the input.
    double firstBeatSeconds = 0;
    // The same music counted in the other octave (half or double bpm,
    // whichever the accents make the likelier alternative); 0 with NoBeat.
    double otherOctaveBpm = 0;
    // Beat times, seconds from the start of the input: the fitted grid for
    // Constant, the tracked beats for TempoChanges.
    std::vector<double> beats;
    // One section per tempo for TempoChanges; a single one for Constant.
    std::vector<TempoSection> sections;
};

class AnalysisCancelled : public std::runtime_error {
public:
    AnalysisCancelled() : std::runtime_error("tempo analysis cancelled") {}
};

class TempoAnalyser {
public:
    // Throws std::invalid_argument for a rate below 8000 Hz or an empty
    // preferred range.
    explicit TempoAnalyser(const AnalysisOptions& options);
    ~TempoAnalyser();
    TempoAnalyser(const TempoAnalyser&) = delete;
    TempoAnalyser& operator=(const TempoAnalyser&) = delete;

    void feed(std::span<const float> mono);
    // Once only; throws std::logic_error when called again, and
    // AnalysisCancelled when *cancel becomes true while it works.
    TempoEstimate finish(const std::atomic<bool>* cancel = nullptr);

    double secondsFed() const;
    // 0..1: feeding counts for most of it when expectedSeconds is known.
    double progress() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    std::atomic<double> progress_{0};
};

}  // namespace pulsaro::analysis

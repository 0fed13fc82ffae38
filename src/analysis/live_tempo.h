#pragma once

// The tempo of music as it is heard: the file analysis's onset function and
// beat tracker run again over the last stretch of input every second or so,
// and a line through the tracked beats gives the tempo, its uncertainty and
// where the beats fall.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace pulsaro::analysis {

enum class LockState {
    Listening,  // not enough input yet, or the beats do not hold still
    Locked,     // one tempo and phase have fitted the recent beats for a while
    NoBeat,     // silence, or sound without a regular pulse
};

struct HeardTempo {
    LockState state = LockState::Listening;
    // NoBeat because nothing was heard at all for the last seconds.
    bool silence = false;
    // The tempo heard (0 while nothing is), and half the width of its 95 %
    // confidence interval, BPM.
    double bpm = 0;
    double uncertainty = 0;
    // A beat on the fitted line, seconds of input since the first sample
    // fed (the latest beat the tracker found, moved onto the line).
    double beatSeconds = 0;
    // Seconds of input fed when this was estimated.
    double fedSeconds = 0;
    // Seconds of input the estimate stands on.
    double spanSeconds = 0;
};

struct LiveTempoOptions {
    double sampleRate = 11025;
    double preferredMinBpm = 78;
    double preferredMaxBpm = 185;
};

// One thread feeds and asks; nothing here is shared.
class LiveTempo {
public:
    explicit LiveTempo(const LiveTempoOptions& options);
    ~LiveTempo();
    LiveTempo(const LiveTempo&) = delete;
    LiveTempo& operator=(const LiveTempo&) = delete;

    void feed(std::span<const float> mono);
    // A new estimate when enough input came since the last one, else
    // nothing. Costs a tracking pass over the recent input when it answers.
    std::optional<HeardTempo> update();
    // The estimate of the last update() that answered.
    const HeardTempo& latest() const;

    // A tempo the user tapped (BPM), or none: the tracker then looks for the
    // beat near it and counts in its octave.
    void setTempoPrior(std::optional<double> bpm);
    // Forgets what was heard (after a gap in the input: a suspend, a new
    // input); the next sample fed is second 0 again.
    void restart();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace pulsaro::analysis

#pragma once

// Taps and the heard music together: the taps choose the octave and the
// beat, the music makes them exact.

#include <optional>

#include "core/beat_grid.h"

namespace pulsaro {

// The tempo the music is heard at, with a beat on the tap clock.
struct HeardGrid {
    double bpm = 0;
    double uncertainty = 0;  // BPM, half the 95 % interval
    double beatSeconds = 0;  // a heard beat, seconds of the tap clock
};

// What the user tapped: the run's tempo, how exact it is (none before three
// counted presses) and its last beat.
struct TappedRun {
    double bpm = 0;
    std::optional<double> uncertainty;
    BeatGrid grid;
};

enum class FusionOutcome {
    TapsOnly,      // nothing heard: the taps as they are
    Locked,        // the heard beats, counted in the taps' octave, on the taps' beat
    TempoDiffers,  // the heard tempo is no octave of the tapped one: taps kept
    BeatDiffers,   // same tempo, but the taps fall between the heard beats: taps kept
};

struct FusedRun {
    FusionOutcome outcome = FusionOutcome::TapsOnly;
    double bpm = 0;
    // Locked: the heard tempo's uncertainty counted in the taps' octave.
    double uncertainty = 0;
    // The beat the taps' last beat became (its index kept).
    BeatGrid grid;
};

FusedRun fuseTapsWithHeard(const TappedRun& taps, const std::optional<HeardGrid>& heard);

}  // namespace pulsaro

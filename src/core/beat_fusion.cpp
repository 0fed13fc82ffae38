#include "core/beat_fusion.h"

#include <algorithm>
#include <cmath>

namespace pulsaro {

namespace {

// Without a spread of their own (fewer than three counted presses) taps are
// taken to be this close to the music's tempo.
constexpr double kTapsTempoShare = 0.04;
// Never closer than this: even a long steady run is no better than the ear.
constexpr double kLeastTempoShare = 0.005;
// Never wider than this, so that a tempo a third or a half away is no match.
constexpr double kMostTempoShare = 0.1;
// Taps land this close to the beat they mean; never more than a quarter of
// the heard beats' spacing, so that an off-beat is told apart.
constexpr double kBeatSeconds = 0.08;
constexpr double kBeatShare = 0.25;

}  // namespace

FusedRun fuseTapsWithHeard(const TappedRun& taps, const std::optional<HeardGrid>& heard) {
    FusedRun fused{FusionOutcome::TapsOnly, taps.bpm, 0, taps.grid};
    if (!heard || !(heard->bpm > 0) || !(taps.bpm > 0)) {
        return fused;
    }
    // The octave the taps count in.
    const double octave =
        std::clamp(std::exp2(std::round(std::log2(taps.bpm / heard->bpm))), 0.25, 4.0);
    const double bpm = heard->bpm * octave;
    const double tapsSpread = taps.uncertainty.value_or(kTapsTempoShare * taps.bpm);
    const double tolerance =
        std::min(kMostTempoShare * taps.bpm,
                 std::max(tapsSpread, kLeastTempoShare * taps.bpm) + heard->uncertainty * octave);
    if (std::abs(bpm - taps.bpm) > tolerance) {
        fused.outcome = FusionOutcome::TempoDiffers;
        return fused;
    }
    // The heard beat nearest the taps' last one, among the heard beats or
    // the combined grid's, whichever lie closer together.
    const double spacing = std::min(60.0 / bpm, 60.0 / heard->bpm);
    const double beats = std::round((taps.grid.beatSeconds - heard->beatSeconds) / spacing);
    const double nearest = heard->beatSeconds + beats * spacing;
    if (std::abs(taps.grid.beatSeconds - nearest) > std::min(kBeatSeconds, kBeatShare * spacing)) {
        fused.outcome = FusionOutcome::BeatDiffers;
        return fused;
    }
    return {FusionOutcome::Locked, bpm, heard->uncertainty * octave,
            BeatGrid{nearest, taps.grid.beatIndex}};
}

}  // namespace pulsaro

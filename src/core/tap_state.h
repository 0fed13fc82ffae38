#pragma once

#include <cstdint>

#include "core/fixed_point.h"

namespace pulsaro {

// Tempos above 251.0000 BPM are taken for a double press and not counted.
inline constexpr Fixed kTooFastAbove = 2'510'000;
// A pause of 2.5 seconds ends a measurement.
inline constexpr Fixed kTimeoutPause = 25'000;
// The metronome takes over at a timeout only above 50 BPM.
inline constexpr Fixed kMetronomeMinimum = 500'000;

// Display modes; 0 until the start-up has chosen one.
enum DisplayMode : std::int32_t { kModeNone = 0, kModeBpm = 1, kModeMpm = 2, kModeDelay = 3 };

// The values of one measurement. A start tick of 0 means none is running.
struct TapState {
    std::uint64_t startTick = 0;
    std::uint64_t lastTick = 0;
    std::int32_t intervalCount = 0;
    Fixed bpmSum = 0;
    std::int32_t beatNumber = 0;
    Fixed currentBpmValue = 0;
    std::int32_t measurementMode = kModeNone;

    bool measuring() const { return startTick != 0; }

    // Clears what both a reset and a timeout clear; the beat number, the
    // current tempo and the measurement mode stay.
    void clearRun();
};

// Elapsed time and tempo of a later press, before anything is changed.
struct PressTempo {
    Fixed elapsed = 0;
    Fixed tempo = 0;
    bool tooFast() const { return tempo > kTooFastAbove; }
};

// Throws ArithmeticError when the press is so close to the first one that the
// elapsed time rounds to zero.
PressTempo tempoOfPress(const TapState& state, std::int64_t elapsedMicroseconds);

// Counts an accepted press into the state.
void acceptPress(TapState& state, const PressTempo& press, std::uint64_t nowTick);

// Mean tempo of the accepted presses so far (before the interval count moves on).
Fixed meanTempo(const TapState& state);

bool pauseEndsMeasurement(std::uint64_t nowTick, std::uint64_t lastTick);

}  // namespace pulsaro

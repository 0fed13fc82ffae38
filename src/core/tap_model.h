#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/beat_fusion.h"
#include "core/beat_grid.h"
#include "core/clock.h"
#include "core/fixed_point.h"
#include "core/tempo_fit.h"

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

bool pauseEndsMeasurement(std::uint64_t nowTick, std::uint64_t lastTick);

// Where a measurement stands, as the status labels show it.
enum class RunStatus { Idle, Measuring, TimedOut };

// What a press did, for those who show it.
enum class PressKind {
    First,     // a new measurement: no tempo yet
    Counted,   // a tempo, counted into the mean
    TooFast,   // a tempo above the limit: shown as a warning, not counted
    Uncounted  // so close to the first press that no tempo exists (reported)
};

// One press as observers see it. mean is the mean after this press (0 when it
// did not count); elapsed is the time since the first press.
struct TapPress {
    PressKind kind = PressKind::First;
    std::int32_t beatNumber = 0;
    Fixed tempo = 0;
    Fixed mean = 0;
    Fixed elapsed = 0;
};

// Told of every change of the measurement. Calls come on the thread that
// drives the model, after the model's state is complete.
class TapObserver {
public:
    virtual ~TapObserver() = default;
    virtual void pressed(const TapPress& press) = 0;
    // A pause ended the measurement; grid is the beat the user tapped last.
    virtual void measurementEnded(Fixed tempo, const BeatGrid& grid) = 0;
    // Reset: no tempo any more.
    virtual void cleared() = 0;
    // A run that ended locked to the heard music follows it: the music's
    // tempo or beat moved.
    virtual void gridMoved(Fixed /*tempo*/, const BeatGrid& /*grid*/) {}
};

// The one owner of a measurement: the press times, the tempo arithmetic, the
// timeout and the beat grid. It reads no clock; every press brings its time.
class TapModel {
public:
    // Observers are not owned and must outlive the model or be removed.
    void addObserver(TapObserver& observer);
    void removeObserver(TapObserver& observer);

    // A press at the given instant while displayMode is on show. A press so
    // close to the first one that no tempo exists throws ArithmeticError after
    // counting the beat and telling observers (PressKind::Uncounted).
    void press(const TapInstant& at, std::int32_t displayMode);
    // The idle check: a pause of 2.5 s since the last press ends the
    // measurement. True when it ended now.
    bool checkPause(std::uint64_t nowTickMs);
    // Ends the measurement and keeps its values (the save panel opens); the
    // pause check still sees the last press.
    void stop();
    // Back to no tempo at all.
    void reset();
    // A tempo typed by the user (0: none) replaces the measured one.
    void setTypedTempo(Fixed tempo);

    const TapState& state() const { return state_; }
    RunStatus status() const { return status_; }
    Fixed tempo() const { return state_.currentBpmValue; }
    // The latest counted beat on the counter's time line.
    BeatGrid grid() const;
    // The music as it is heard now (none while nothing is listened to or
    // locked). A run that ends while it is heard is joined with it; a run
    // that ended locked to it follows it while the two still agree.
    void hear(const std::optional<HeardGrid>& heard);
    // How the last run and the heard music came together.
    FusionOutcome fusion() const { return fused_.outcome; }

    // How exact the tempo of the last run is: half the width of its 95 %
    // confidence interval in BPM, from a straight line through the counted
    // presses; nothing before three of them, or once a typed tempo or a
    // reset replaced the measured one.
    std::optional<double> tempoUncertainty() const;

private:
    void tellPressed(const TapPress& press);
    void forgetFusion();
    // The fused run's tempo and grid become the run's.
    void takeFused();

    TapState state_;
    RunStatus status_ = RunStatus::Idle;
    std::int64_t startCount_ = 0;
    std::int64_t lastBeatCount_ = 0;
    std::int64_t lastBeatIndex_ = 0;
    TempoFit fit_;
    std::int64_t frequency_ = 1;
    std::optional<HeardGrid> heard_;
    TappedRun tapped_;
    FusedRun fused_;
    // Whether the ended run still follows the music.
    bool following_ = false;
    std::vector<TapObserver*> observers_;
};

}  // namespace pulsaro

#include "core/tap_model.h"

#include <algorithm>
#include <cmath>

namespace pulsaro {

void TapState::clearRun() {
    startTick = 0;
    lastTick = 0;
    intervalCount = 0;
    bpmSum = 0;
}

PressTempo tempoOfPress(const TapState& state, std::int64_t elapsedMicroseconds) {
    PressTempo press;
    press.elapsed = elapsedFromMicroseconds(elapsedMicroseconds);
    press.tempo = tempoFromElapsed(state.intervalCount, press.elapsed);
    return press;
}

bool pauseEndsMeasurement(std::uint64_t nowTick, std::uint64_t lastTick) {
    return pauseFromTicks(nowTick, lastTick) >= kTimeoutPause;
}

void TapModel::addObserver(TapObserver& observer) {
    observers_.push_back(&observer);
}

void TapModel::removeObserver(TapObserver& observer) {
    std::erase(observers_, &observer);
}

void TapModel::tellPressed(const TapPress& press) {
    for (TapObserver* observer : observers_) {
        observer->pressed(press);
    }
}

void TapModel::press(const TapInstant& at, std::int32_t displayMode) {
    if (!state_.measuring()) {
        state_.clearRun();
        state_.currentBpmValue = 0;
        state_.startTick = state_.lastTick = at.tickMs;
        state_.intervalCount = 1;
        state_.beatNumber = 1;
        if (displayMode != kModeNone) {
            state_.measurementMode = displayMode;
        }
        startCount_ = lastBeatCount_ = at.count;
        lastBeatIndex_ = 0;
        frequency_ = at.frequency;
        fit_.clear();
        fit_.add(0, 0.0);
        forgetFusion();
        status_ = RunStatus::Measuring;
        tellPressed({PressKind::First, 1, 0, 0, 0});
        return;
    }
    state_.beatNumber += 1;
    PressTempo tempo;
    try {
        tempo = tempoOfPress(state_, microsecondsFromCounts(at.count - startCount_, at.frequency));
    } catch (const ArithmeticError&) {
        tellPressed({PressKind::Uncounted, state_.beatNumber, 0, 0, 0});
        throw;
    }
    state_.lastTick = at.tickMs;
    state_.currentBpmValue = tempo.tempo;
    if (tempo.tooFast()) {
        // Not counted: the next press is measured as if this one never was.
        tellPressed({PressKind::TooFast, state_.beatNumber, tempo.tempo, 0, tempo.elapsed});
        return;
    }
    state_.bpmSum = addFixed(state_.bpmSum, tempo.tempo);
    const Fixed mean = meanOf(state_.bpmSum, state_.intervalCount);
    lastBeatIndex_ = state_.intervalCount;
    fit_.add(lastBeatIndex_,
             static_cast<double>(at.count - startCount_) / static_cast<double>(at.frequency));
    state_.intervalCount += 1;
    lastBeatCount_ = at.count;
    tellPressed({PressKind::Counted, state_.beatNumber, tempo.tempo, mean, tempo.elapsed});
}

bool TapModel::checkPause(std::uint64_t nowTickMs) {
    if (state_.lastTick == 0 || !pauseEndsMeasurement(nowTickMs, state_.lastTick)) {
        return false;
    }
    state_.clearRun();
    status_ = RunStatus::TimedOut;
    if (heard_ && state_.currentBpmValue > 0) {
        tapped_ = {static_cast<double>(toLongDouble(state_.currentBpmValue)), fit_.uncertainty95(),
                   grid()};
        fused_ = fuseTapsWithHeard(tapped_, heard_);
        if (fused_.outcome == FusionOutcome::Locked) {
            takeFused();
            following_ = true;
        }
    }
    const BeatGrid beat = grid();
    for (TapObserver* observer : observers_) {
        observer->measurementEnded(state_.currentBpmValue, beat);
    }
    return true;
}

void TapModel::stop() {
    state_.startTick = 0;
    state_.intervalCount = 0;
    state_.bpmSum = 0;
    status_ = RunStatus::Idle;
}

void TapModel::reset() {
    state_.clearRun();
    fit_.clear();
    state_.currentBpmValue = 0;
    status_ = RunStatus::Idle;
    forgetFusion();
    for (TapObserver* observer : observers_) {
        observer->cleared();
    }
}

void TapModel::setTypedTempo(Fixed tempo) {
    state_.currentBpmValue = tempo;
    fit_.clear();
    forgetFusion();
}

void TapModel::hear(const std::optional<HeardGrid>& heard) {
    heard_ = heard;
    if (!following_ || !heard) {
        return;
    }
    const FusedRun again = fuseTapsWithHeard(tapped_, heard);
    if (again.outcome != FusionOutcome::Locked) {
        // The music moved on (another track): the run keeps its last grid.
        following_ = false;
        return;
    }
    const double period = 60.0 / again.bpm;
    const bool moved = std::abs(again.bpm - fused_.bpm) > 1e-4 ||
                       std::abs(again.grid.beatSeconds - fused_.grid.beatSeconds) > 1e-3 * period;
    fused_ = again;
    if (moved) {
        takeFused();
        for (TapObserver* observer : observers_) {
            observer->gridMoved(state_.currentBpmValue, fused_.grid);
        }
    }
}

void TapModel::forgetFusion() {
    fused_ = {};
    following_ = false;
}

void TapModel::takeFused() {
    state_.currentBpmValue = static_cast<Fixed>(std::llround(fused_.bpm * kFixedScale));
}

BeatGrid TapModel::grid() const {
    if (fused_.outcome == FusionOutcome::Locked) {
        return fused_.grid;
    }
    return BeatGrid{frequency_ > 0
                        ? static_cast<double>(lastBeatCount_) / static_cast<double>(frequency_)
                        : 0.0,
                    lastBeatIndex_};
}

std::optional<double> TapModel::tempoUncertainty() const {
    if (fused_.outcome == FusionOutcome::Locked) {
        return fused_.uncertainty;
    }
    return fit_.uncertainty95();
}

}  // namespace pulsaro

#include "core/tap_model.h"

#include <algorithm>

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
    for (TapObserver* observer : observers_) {
        observer->cleared();
    }
}

void TapModel::setTypedTempo(Fixed tempo) {
    state_.currentBpmValue = tempo;
    fit_.clear();
}

BeatGrid TapModel::grid() const {
    return BeatGrid{frequency_ > 0
                        ? static_cast<double>(lastBeatCount_) / static_cast<double>(frequency_)
                        : 0.0,
                    lastBeatIndex_};
}

std::optional<double> TapModel::tempoUncertainty() const {
    return fit_.uncertainty95();
}

}  // namespace pulsaro

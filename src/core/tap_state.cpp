#include "core/tap_state.h"

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

void acceptPress(TapState& state, const PressTempo& press, std::uint64_t nowTick) {
    state.lastTick = nowTick;
    state.currentBpmValue = press.tempo;
    state.intervalCount += 1;
}

Fixed meanTempo(const TapState& state) {
    return meanOf(state.bpmSum, state.intervalCount);
}

bool pauseEndsMeasurement(std::uint64_t nowTick, std::uint64_t lastTick) {
    return pauseFromTicks(nowTick, lastTick) >= kTimeoutPause;
}

}  // namespace pulsaro

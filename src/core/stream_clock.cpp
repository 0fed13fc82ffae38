#include "core/stream_clock.h"

#include <cmath>

namespace pulsaro {

StreamClock::StreamClock(double sampleRate, double toleranceSeconds)
    : sampleRate_(sampleRate), tolerance_(toleranceSeconds) {}

std::int64_t StreamClock::framesLost(std::int64_t position, double heardAt) {
    if (!std::isfinite(heardAt)) {
        return 0;
    }
    if (!reference_) {
        reference_ = Reference{position, heardAt};
        lastDifference_ = 0;
        return 0;
    }
    const double counted =
        reference_->heardAt + static_cast<double>(position - reference_->frame) / sampleRate_;
    lastDifference_ = heardAt - counted;
    if (lastDifference_ > tolerance_) {
        // Skipping these frames puts this block back on the reference.
        return std::llround(lastDifference_ * sampleRate_);
    }
    if (lastDifference_ < -tolerance_) {
        reference_ = Reference{position, heardAt};
    }
    return 0;
}

}  // namespace pulsaro

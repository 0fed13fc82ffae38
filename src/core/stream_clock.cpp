#include "core/stream_clock.h"

#include <cmath>

namespace pulsaro {

namespace {

// How many blocks after an underrun may still show what it cost.
constexpr int kUnderrunBlocks = 16;
// How many blocks in a row must be heard early before the reference moves.
constexpr int kEarlyBlocks = 8;

}  // namespace

StreamClock::StreamClock(double sampleRate, double toleranceSeconds)
    : sampleRate_(sampleRate), tolerance_(toleranceSeconds) {}

void StreamClock::reset() {
    reference_.reset();
    lastDifference_ = 0;
    sinceUnderrun_ = -1;
    earlyRun_ = 0;
}

bool StreamClock::agrees(double difference) const {
    return std::fabs(difference - lastDifference_) <= tolerance_;
}

std::int64_t StreamClock::framesLost(std::int64_t position, double heardAt, bool afterUnderrun) {
    if (!std::isfinite(heardAt)) {
        return 0;
    }
    if (!reference_) {
        reference_ = Reference{position, heardAt};
        lastDifference_ = 0;
        return 0;
    }
    if (afterUnderrun) {
        sinceUnderrun_ = 0;
    }
    const double counted =
        reference_->heardAt + static_cast<double>(position - reference_->frame) / sampleRate_;
    const double difference = heardAt - counted;
    const bool confirmed = agrees(difference);
    lastDifference_ = difference;

    std::int64_t lost = 0;
    if (difference > tolerance_) {
        earlyRun_ = 0;
        if (sinceUnderrun_ > 0 && confirmed) {
            // Skipping these frames puts this block back on the reference.
            lost = std::llround(difference * sampleRate_);
            lastDifference_ = 0;
            sinceUnderrun_ = -1;
        }
    } else if (difference < -tolerance_) {
        earlyRun_ = confirmed ? earlyRun_ + 1 : 1;
        if (earlyRun_ >= kEarlyBlocks) {
            reference_ = Reference{position, heardAt};
            lastDifference_ = 0;
            earlyRun_ = 0;
        }
    } else {
        earlyRun_ = 0;
    }
    if (sinceUnderrun_ >= 0 && ++sinceUnderrun_ > kUnderrunBlocks) {
        sinceUnderrun_ = -1;
    }
    return lost;
}

}  // namespace pulsaro

#pragma once

#include <cstdint>
#include <optional>

namespace pulsaro {

// Keeps the frames a stream renders in step with the time they are heard.
// A stream counts the frames it renders, but when the device runs dry (an
// underrun) real time goes on without them: counted frames alone would put
// every later click late by the length of the dropout. Told when each block's
// first frame will be heard (the stream's own clock), this says how many
// frames the dropout cost, so the renderer skips them and what follows lands
// where it belongs in real time.
//
// Small differences are the clock's noise, not a dropout; a block heard
// earlier than counted (the device's clock runs a little fast) moves the
// reference instead, as nothing can be unskipped.
class StreamClock {
public:
    StreamClock(double sampleRate, double toleranceSeconds);

    // A new stream: nothing is known about its clock yet.
    void reset() { reference_.reset(); }

    // The frames lost before the block that starts at frame position and is
    // heard at heardAt (seconds on the stream's clock); 0 when none.
    std::int64_t framesLost(std::int64_t position, double heardAt);

    // Seconds by which the last block differed from its counted time.
    double lastDifference() const { return lastDifference_; }

private:
    struct Reference {
        std::int64_t frame;
        double heardAt;
    };
    double sampleRate_;
    double tolerance_;
    std::optional<Reference> reference_;
    double lastDifference_ = 0;
};

}  // namespace pulsaro

#pragma once

#include <cstdint>
#include <optional>

namespace pulsaro {

// Keeps the frames a stream renders in step with the time they are heard.
// A stream counts the frames it renders, but when the device runs dry (an
// underrun) real time goes on without them: counted frames alone would put
// every later click late by the length of the dropout. Told when each block's
// first frame will be heard (the stream's own clock), this says how many
// frames a dropout cost, so the renderer skips them and what follows lands
// where it belongs in real time.
//
// A loaded machine makes the reported times jump about with no sound lost,
// and skipping on such a jump would move every later click early. So frames
// count as lost only after the device reported an underrun, and only when two
// blocks in a row agree on how many; a block heard early moves the reference
// only when many blocks in a row agree (the device's clock runs a little
// fast), as nothing can be unskipped.
class StreamClock {
public:
    StreamClock(double sampleRate, double toleranceSeconds);

    // A new stream: nothing is known about its clock yet.
    void reset();

    // The frames lost before the block that starts at frame position and is
    // heard at heardAt (seconds on the stream's clock); 0 when none.
    // afterUnderrun: the device reported running dry since the last block.
    std::int64_t framesLost(std::int64_t position, double heardAt, bool afterUnderrun);

    // Seconds by which the last block differed from its counted time.
    double lastDifference() const { return lastDifference_; }

private:
    struct Reference {
        std::int64_t frame;
        double heardAt;
    };
    bool agrees(double difference) const;

    double sampleRate_;
    double tolerance_;
    std::optional<Reference> reference_;
    double lastDifference_ = 0;
    // Blocks since the last underrun that have not yet settled it, or -1.
    int sinceUnderrun_ = -1;
    // Blocks in a row heard early by about the same time.
    int earlyRun_ = 0;
};

}  // namespace pulsaro

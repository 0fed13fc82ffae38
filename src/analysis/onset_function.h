#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

class DetectionFunction;

namespace pulsaro::analysis {

// The onset strength of the input, one value per hop of about 11.6 ms (the
// frame rate qm-dsp's tempo tracker is built for), computed as the samples
// arrive so that only the function is kept, never the samples.
class OnsetFunction {
public:
    explicit OnsetFunction(double sampleRate);
    ~OnsetFunction();
    OnsetFunction(const OnsetFunction&) = delete;
    OnsetFunction& operator=(const OnsetFunction&) = delete;

    void feed(std::span<const float> samples);

    std::size_t hop() const { return hop_; }
    double framesPerSecond() const { return sampleRate_ / static_cast<double>(hop_); }
    // Seconds of input at which frame i's onset is heard (i counts the
    // frames kept: after keepLast(), frame 0 is the oldest one kept).
    double frameSeconds(double frame) const;
    // The frame nearest to where a beat at `seconds` peaks in the band
    // functions (a frame index as frameSeconds() counts them).
    double frameAt(double seconds) const {
        return seconds * framesPerSecond() - static_cast<double>(dropped_);
    }
    // Forgets all but the latest `frames` frames of the three functions, so
    // that listening for hours does not grow them.
    void keepLast(std::size_t frames);

    // Complex spectral difference with adaptive whitening: the tracker's input.
    const std::vector<float>& broadband() const { return broadband_; }
    // Rectified log-magnitude flux below about 200 Hz (kick drums, bass) and
    // above about 2 kHz (snares, hats, claps): where the accents lie.
    const std::vector<float>& low() const { return low_; }
    const std::vector<float>& high() const { return high_; }
    // Mean square of the input over everything fed.
    double meanSquare() const;
    std::size_t samplesFed() const { return fed_; }

private:
    void processFrame();

    double sampleRate_;
    std::size_t hop_;
    std::size_t frameLength_;
    std::unique_ptr<DetectionFunction> df_;
    std::vector<double> frame_;  // the samples of the frame being filled
    std::size_t filled_ = 0;
    std::vector<double> lastLog_;  // log magnitudes of the previous frame
    std::size_t lowBins_ = 0, highBin_ = 0;
    std::vector<float> broadband_, low_, high_;
    double sumSquares_ = 0;
    std::size_t fed_ = 0;
    std::size_t dropped_ = 0;  // frames forgotten by keepLast()
};

}  // namespace pulsaro::analysis

#include "audio/offline_output.h"

namespace pulsaro {

OfflineOutput::OfflineOutput(std::uint32_t sampleRate, int channels)
    : sampleRate_(sampleRate), channels_(channels) {}

void OfflineOutput::setClockMapping(double tapSecondsAtFrame0, double latencySeconds) {
    tapAtFrame0_ = tapSecondsAtFrame0;
    latency_ = latencySeconds;
    // Known before anything is rendered, unlike a device's.
    publishTiming(timingAt(position()));
}

void OfflineOutput::render(float* out, std::size_t frames) {
    const std::int64_t start = makeEngine(sampleRate_, channels_).position();
    if (tapAtFrame0_) {
        publishTiming(timingAt(start));
    }
    renderBlock(out, frames);
}

void OfflineOutput::render(float* out, std::size_t frames, double heardAt, bool afterUnderrun) {
    makeEngine(sampleRate_, channels_);
    followStreamClock(heardAt, afterUnderrun);
    render(out, frames);
}

std::vector<float> OfflineOutput::render(std::size_t frames) {
    std::vector<float> out(frames * static_cast<std::size_t>(channels_));
    render(out.data(), frames);
    return out;
}

std::int64_t OfflineOutput::position() const {
    return engine() != nullptr ? engine()->position() : 0;
}

bool OfflineOutput::prepareOutput() {
    makeEngine(sampleRate_, channels_);
    return true;
}

StreamTiming OfflineOutput::timingAt(std::int64_t frame) const {
    return {frame, *tapAtFrame0_ + static_cast<double>(frame) / sampleRate_, latency_};
}

}  // namespace pulsaro

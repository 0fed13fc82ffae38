#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/engine_output.h"

namespace pulsaro {

// The metronome rendered on demand into memory, at a chosen rate and channel
// count, for tests and the probe: no device, no thread. The caller says how
// output frames relate to the tap clock.
//
// Threads: one thread makes every call, the AudioOutput ones included; it is
// the GUI thread and the render thread at once.
class OfflineOutput : public EngineOutput {
public:
    OfflineOutput(std::uint32_t sampleRate, int channels);

    // What outputDeviceCount reports (1 unless set).
    void setDeviceCount(int count) { devices_ = count; }
    int outputDeviceCount() override { return devices_; }

    // Frame 0 is heard at tapSecondsAtFrame0 + latencySeconds on the tap
    // clock, each later frame 1 / rate after it. Without this, grids are
    // ignored and clicks start at once.
    void setClockMapping(double tapSecondsAtFrame0, double latencySeconds);

    // Renders the next frames, interleaved.
    void render(float* out, std::size_t frames);
    // The same for a block whose first frame is heard at heardAt seconds on
    // the output's clock, as a device's callback is told, after an underrun
    // or not: frames an underrun lost are skipped.
    void render(float* out, std::size_t frames, double heardAt, bool afterUnderrun);
    std::vector<float> render(std::size_t frames);

    std::uint32_t sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    // Frames rendered so far.
    std::int64_t position() const;

private:
    bool prepareOutput() override;
    bool outputRunning() override { return true; }
    void commandSent() override {}

    StreamTiming timingAt(std::int64_t frame) const;

    const std::uint32_t sampleRate_;
    const int channels_;
    int devices_ = 1;
    std::optional<double> tapAtFrame0_;
    double latency_ = 0;
};

}  // namespace pulsaro

#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>

#include "audio/engine_output.h"

typedef void PaStream;  // as portaudio.h declares it
struct PaStreamCallbackTimeInfo;

namespace pulsaro {

// The metronome on the default output device through PortAudio.
//
// PortAudio starts on first use. A stream at the device's default rate runs
// only while sound is wanted: the first play command opens and starts it, and
// it stops itself some seconds after the engine went quiet. Each started
// stream has a closer thread that sleeps until the stream has finished and
// then closes it, so that an idle program has no thread of its own or of the
// sound system waking up; the next command joins the closer and opens a new
// stream. A stream that cannot be opened or that dies leaves the program
// running silently.
//
// Threads: everything public runs on the GUI thread, except what
// EngineOutput says may be called from any thread. The stream callback is
// the render thread. Once started, a stream is touched by the GUI thread
// only through atomics; only its closer closes it.
class PortAudioOutput final : public EngineOutput {
public:
    PortAudioOutput();
    ~PortAudioOutput() override;

    int outputDeviceCount() override;
    bool outputLost() const override;

    // The stream's latency as PortAudio gave it when it was opened; nothing
    // before the first stream.
    std::optional<double> openedLatency() const;
    // True while a stream is open and running.
    bool streamRunning() { return outputRunning(); }

private:
    bool prepareOutput() override;
    bool outputRunning() override;
    void commandSent() override;
    std::optional<StreamTiming> timingForGrid() override;

    bool ensureInitialised();
    void release();
    void tellOnce(const char* reason);
    bool openStream();
    bool startStream();
    // Closes the stream (through its closer once started) and waits for that.
    void retireStream();

    static int onBlock(const void* input, void* output, unsigned long frames,
                       const PaStreamCallbackTimeInfo* time, unsigned long flags, void* self);
    static void onFinished(void* self);
    int render(float* out, unsigned long frames, const PaStreamCallbackTimeInfo* time,
               unsigned long flags);

    bool initialised_ = false;
    bool noDevice_ = false;
    bool told_ = false;
    PaStream* stream_ = nullptr;
    bool started_ = false;
    std::optional<double> openedLatency_;
    // Set when the stream has finished (by PortAudio, after the callback
    // ended it or the device failed) or must go (by the GUI thread); wakes
    // the closer.
    std::atomic<bool> finished_{false};
    // Set by the GUI thread while it closes the stream itself, so that the
    // stream's end is not taken for a lost device.
    std::atomic<bool> retiring_{false};
    // Set when the stream ended by itself while it had work: its device or
    // sound server went away.
    std::atomic<bool> lost_{false};
    // Tap-clock seconds of the last callback; a running stream whose
    // callbacks stop coming is lost too.
    std::atomic<double> lastCallbackAt_{0};
    std::thread closer_;

    // Commands sent to the running stream, counted by the GUI thread; the
    // top bit is set by the callback when it ends the stream. A command
    // counted after the callback read the count keeps the stream running, so
    // it either reaches a block or the GUI sees the bit and opens a new
    // stream.
    std::atomic<std::uint64_t> gate_{0};
    // Set by the GUI thread before the stream starts; then the render
    // thread's alone.
    double rate_ = 0;
    std::int64_t streamFrames_ = 0;
    std::int64_t idleLimitFrames_ = 0;
    double fallbackLatency_ = 0;
    // A new stream's first blocks may be rendered in a burst to fill the
    // buffer before the device runs, and so may the blocks after an
    // underflow; their times say nothing about when they are heard. Timing
    // is published from the first block that came at least half a block's
    // time after the one before it.
    bool paced_ = false;
    // An underrun was reported and not yet told to the stream clock.
    bool underrunSeen_ = false;
    double lastCallback_ = 0;
    double lastBlockSeconds_ = 0;
};

}  // namespace pulsaro

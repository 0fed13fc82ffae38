#include "audio/portaudio_output.h"

#include <portaudio.h>
#if defined(__linux__)
#include <pa_linux_alsa.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <thread>

#include "audio/backend_logging.h"

namespace pulsaro {

namespace {

constexpr std::uint64_t kClosed = std::uint64_t{1} << 63;
// How long a quiet stream keeps running: long enough that clicks a moment
// apart reuse it, short enough that an idle program soon has no audio thread.
constexpr double kIdleSeconds = 3.0;
// How long a grid start waits for a fresh stream's first block; the first
// block comes within a few milliseconds, so this is reached only by a stream
// that does not run, and then the clicks start at once instead.
constexpr auto kFirstBlockWait = std::chrono::milliseconds(250);
// Clicks are placed ahead of time, so a small buffer gains them nothing; a
// large one survives a loaded machine.
constexpr double kMinimumLatency = 0.1;
// A running stream whose callbacks stop for this long has lost its device.
constexpr double kStalledSeconds = 2.0;

double tapClockSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

PortAudioOutput::PortAudioOutput() = default;

PortAudioOutput::~PortAudioOutput() {
    release();
}

int PortAudioOutput::outputDeviceCount() {
    noDevice_ = false;
    // PortAudio lists devices only when it starts: while no stream runs, it
    // starts afresh so a sound server that came up (or went) since is seen.
    if (stream_ == nullptr || !outputRunning()) {
        release();
        lost_.store(false, std::memory_order_relaxed);
    }
    if (!ensureInitialised()) {
        return 0;
    }
    const PaDeviceIndex count = Pa_GetDeviceCount();
    int outputs = 0;
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info != nullptr && info->maxOutputChannels > 0) {
            ++outputs;
        }
    }
    if (outputs == 0) {
        // With none there is nothing to keep, and exit has nothing to shut
        // down. Until the next count, play commands do not start it again.
        release();
        // The window says so; the terminal stays quiet.
        noDevice_ = true;
    }
    return outputs;
}

std::optional<double> PortAudioOutput::openedLatency() const {
    return openedLatency_;
}

bool PortAudioOutput::outputLost() const {
    if (lost_.load(std::memory_order_acquire)) {
        return true;
    }
    const double last = lastCallbackAt_.load(std::memory_order_relaxed);
    return stream_ != nullptr && started_ && last > 0 &&
           !finished_.load(std::memory_order_acquire) &&
           (gate_.load(std::memory_order_acquire) & kClosed) == 0 &&
           tapClockSeconds() - last > kStalledSeconds;
}

bool PortAudioOutput::prepareOutput() {
    if (outputLost()) {
        // The device or server it played on is gone: look for sound afresh.
        retireStream();
        release();
        lost_.store(false, std::memory_order_relaxed);
    }
    if (!ensureInitialised()) {
        return false;
    }
    if (stream_ != nullptr && started_ && !outputRunning()) {
        // Stopped after being quiet, or died with its device.
        retireStream();
    }
    return stream_ != nullptr || openStream();
}

bool PortAudioOutput::outputRunning() {
    return stream_ != nullptr && started_ &&
           (gate_.load(std::memory_order_acquire) & kClosed) == 0 &&
           !finished_.load(std::memory_order_acquire);
}

void PortAudioOutput::commandSent() {
    if (stream_ == nullptr) {
        cancelPending();
        return;
    }
    if (!started_) {
        startStream();
        return;
    }
    const std::uint64_t before = gate_.fetch_add(1, std::memory_order_acq_rel);
    if ((before & kClosed) != 0 || finished_.load(std::memory_order_acquire)) {
        // The stream ended before its callback took the command; the command
        // waits in the engine's queue for the first block of a new stream.
        retireStream();
        if (openStream()) {
            startStream();
        } else {
            cancelPending();
        }
    }
}

std::optional<StreamTiming> PortAudioOutput::timingForGrid() {
    if (stream_ == nullptr || (!started_ && !startStream())) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + kFirstBlockWait;
    for (;;) {
        if (std::optional<StreamTiming> timing = latestTiming()) {
            return timing;
        }
        if (finished_.load(std::memory_order_acquire) ||
            std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool PortAudioOutput::ensureInitialised() {
    if (noDevice_) {
        return false;
    }
    if (!initialised_) {
        silenceBackendLogging();
        filterLibraryLines();
        const PaError error = [] {
            const QuietStandardError quiet;
            return Pa_Initialize();
        }();
        initialised_ = error == paNoError;
        if (!initialised_) {
            tellOnce(Pa_GetErrorText(error));
        }
    }
    return initialised_;
}

void PortAudioOutput::release() {
    retireStream();
    if (initialised_) {
        const QuietStandardError quiet;
        Pa_Terminate();
        initialised_ = false;
    }
}

// The libraries' own messages are silenced, so this one line is all a user
// starting the program from a terminal sees about missing sound.
void PortAudioOutput::tellOnce(const char* reason) {
    if (!told_) {
        std::fprintf(stderr, "pulsaro: %s; the metronome is off\n", reason);
        told_ = true;
    }
}

bool PortAudioOutput::openStream() {
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (info == nullptr || info->maxOutputChannels < 1) {
        return false;
    }
    // The first stream fixes the engine's format for the whole run; later
    // streams ask the device for that same format.
    const ClickEngine* existing = engine();
    const double rate =
        existing != nullptr ? existing->sampleRate() : std::round(info->defaultSampleRate);
    const int channels =
        existing != nullptr ? existing->channels() : (info->maxOutputChannels >= 2 ? 2 : 1);
    if (!(rate >= 1000 && rate <= 1'000'000)) {
        return false;
    }

    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = channels;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = std::max(info->defaultHighOutputLatency, kMinimumLatency);
    PaStream* stream = nullptr;
    const PaError opened = [&] {
        const QuietStandardError quiet;
        return Pa_OpenStream(&stream, nullptr, &parameters, rate, paFramesPerBufferUnspecified,
                             paNoFlag, &PortAudioOutput::onBlock, this);
    }();
    if (opened != paNoError) {
        return false;
    }
    stream_ = stream;
    started_ = false;
    Pa_SetStreamFinishedCallback(stream_, &PortAudioOutput::onFinished);
#if defined(__linux__)
    // With buffers of a few milliseconds an ordinary thread is too easily
    // kept waiting by other work; PortAudio's ALSA thread asks for real-time
    // priority only when told, and goes on at normal priority where the
    // system refuses it.
    const PaHostApiInfo* host = Pa_GetHostApiInfo(info->hostApi);
    if (host != nullptr && host->type == paALSA) {
        PaAlsa_EnableRealtimeScheduling(stream_, 1);
    }
#endif
    makeEngine(static_cast<std::uint32_t>(rate), channels);
    rate_ = rate;
    const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream_);
    fallbackLatency_ = streamInfo != nullptr ? std::max(0.0, streamInfo->outputLatency) : 0.0;
    openedLatency_ = fallbackLatency_;
    idleLimitFrames_ = static_cast<std::int64_t>(kIdleSeconds * rate);
    return true;
}

bool PortAudioOutput::startStream() {
    // No callback runs yet, so the render side's state is set from here.
    beginStream();
    gate_.store(0, std::memory_order_relaxed);
    finished_.store(false, std::memory_order_relaxed);
    streamFrames_ = 0;
    lastCallbackAt_.store(0, std::memory_order_relaxed);
    paced_ = false;
    underrunSeen_ = false;
    lastCallback_ = 0;
    lastBlockSeconds_ = 0;
    if (Pa_StartStream(stream_) != paNoError) {
        retireStream();
        cancelPending();
        return false;
    }
    started_ = true;
    try {
        closer_ = std::thread([this, stream = stream_] {
            // Blocked in the kernel until woken: no wake-ups while it waits.
            finished_.wait(false, std::memory_order_acquire);
            Pa_CloseStream(stream);
        });
    } catch (const std::system_error&) {
        // Without a closer the stream is closed by retireStream instead.
    }
    return true;
}

void PortAudioOutput::retireStream() {
    retiring_.store(true, std::memory_order_release);
    if (closer_.joinable()) {
        finished_.store(true, std::memory_order_release);
        finished_.notify_one();
        closer_.join();
    } else if (stream_ != nullptr) {
        // Aborts a running stream: its queued buffers are dropped, not played.
        Pa_CloseStream(stream_);
    }
    stream_ = nullptr;
    started_ = false;
    retiring_.store(false, std::memory_order_release);
}

int PortAudioOutput::onBlock(const void*, void* output, unsigned long frames,
                             const PaStreamCallbackTimeInfo* time, unsigned long flags,
                             void* self) {
    return static_cast<PortAudioOutput*>(self)->render(static_cast<float*>(output), frames, time,
                                                       flags);
}

void PortAudioOutput::onFinished(void* self) {
    auto& output = *static_cast<PortAudioOutput*>(self);
    // Neither gone quiet nor closed by the program: the device went away.
    if ((output.gate_.load(std::memory_order_acquire) & kClosed) == 0 &&
        !output.retiring_.load(std::memory_order_acquire)) {
        output.lost_.store(true, std::memory_order_release);
    }
    output.finished_.store(true, std::memory_order_release);
    output.finished_.notify_one();
}

int PortAudioOutput::render(float* out, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                            unsigned long flags) {
    const double now = tapClockSeconds();
    // The time until this block's first frame reaches the output. A host
    // that gives no times (or nonsense) gets the stream's nominal latency.
    double latency = fallbackLatency_;
    if (time != nullptr && time->currentTime > 0) {
        const double measured = time->outputBufferDacTime - time->currentTime;
        if (measured >= 0 && measured < 10) {
            latency = measured;
        }
    }
    // Read before rendering: the block takes every command counted so far.
    const std::uint64_t gate = gate_.load(std::memory_order_acquire);
    ClickEngine& clicks = *engine();
    if ((flags & paOutputUnderflow) != 0) {
        // The device ran dry and is filled again in a burst, as at the start.
        countUnderflow();
        paced_ = false;
        underrunSeen_ = true;
    }
    if (!paced_ && streamFrames_ > 0 && now - lastCallback_ >= 0.5 * lastBlockSeconds_) {
        paced_ = true;
    }
    lastCallback_ = now;
    lastCallbackAt_.store(now, std::memory_order_relaxed);
    lastBlockSeconds_ = static_cast<double>(frames) / rate_;
    if (paced_) {
        // Frames lost to an underrun are skipped first, so what follows is
        // heard on time rather than late by the dropout.
        // A loaded machine sometimes reports a block due at once or far too
        // late; such a time says nothing about frames lost.
        if (time != nullptr && time->outputBufferDacTime > 0 && latency > 0.25 * fallbackLatency_ &&
            latency < 4 * fallbackLatency_) {
            followStreamClock(time->outputBufferDacTime, underrunSeen_);
            underrunSeen_ = false;
        }
        publishTiming({clicks.position(), now, latency});
    }
    renderBlock(out, frames);

    streamFrames_ += static_cast<std::int64_t>(frames);
    if (std::min(clicks.idleFrames(), streamFrames_) > idleLimitFrames_) {
        std::uint64_t expected = gate;
        if (gate_.compare_exchange_strong(expected, gate | kClosed, std::memory_order_acq_rel)) {
            return paComplete;
        }
    }
    return paContinue;
}

}  // namespace pulsaro

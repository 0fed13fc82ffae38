// Plays short marker sounds on the right channel only of PortAudio's default
// output, each one timed to be heard at a given instant of CLOCK_MONOTONIC.
// Instants may come in any order; the earliest one waiting is played next.
// The stream is opened the way the program opens its own (default rate,
// the device's high default latency, PortAudio's choice of buffer size), and a
// marker is placed the way the program places a click: the callback's
// outputBufferDacTime - currentTime says when the block's first frame is
// heard. The estimate used is the median over the last 31 callbacks of
// (callback time + that latency - frames played so far / rate), so a single
// late callback does not move a marker.
//
//   marker_player            reads instants (CLOCK_MONOTONIC seconds), one a
//                            line, from stdin; ends at end of input once the
//                            last marker has been played
// Prints, on stdout:
//   ready RATE LATENCY_MS SPREAD_MS    once the timing has settled (after 0.5 s)
//   marker T FRAME LATE_MS BASE_SPREAD_MS   for every marker once it has been
//                            written into a block (LATE_MS > 0: the instant had
//                            passed already; it was played at once)
//   end UNDERFLOWS CALLBACKS
//
// Built by bench/metronome_bench.sh:
//   g++ -std=c++20 -O2 marker_player.cpp -lportaudio -o marker_player

#include <portaudio.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

namespace {

double monotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

constexpr int kQueue = 1024;
constexpr int kWindow = 31;

struct Placed {
    double instant = 0;
    double frame = 0;
    double lateMs = 0;
    double spreadMs = 0;
};

struct Player {
    double rate = 48000;
    double fallbackLatency = 0.05;
    // Instants to play, written by the main thread, read by the callback.
    std::array<double, kQueue> wanted{};
    std::atomic<int> wantedCount{0};
    std::array<bool, kQueue> done{};
    int firstUndone = 0;
    // What the callback did with them.
    std::array<Placed, kQueue> placed{};
    std::atomic<int> placedCount{0};
    // Timing estimates: heard time of frame 0 of the stream.
    std::array<double, kWindow> bases{};
    int baseCount = 0;
    std::atomic<double> base{0};
    std::atomic<double> spread{0};
    std::atomic<double> latency{0};
    std::atomic<bool> settled{false};
    double firstCallback = 0;
    long long frames = 0;
    std::atomic<long long> underflows{0};
    std::atomic<long long> callbacks{0};
    // The marker now sounding: its first frame (fractional) on the stream.
    bool sounding = false;
    double soundStart = 0;
};

// 3 ms of a 1 kHz square wave, full height from its first instant.
float markerSample(double t) {
    if (t < 0 || t >= 0.003) {
        return 0;
    }
    return std::fmod(t, 0.001) < 0.0005 ? 0.5f : -0.5f;
}

int onBlock(const void*, void* output, unsigned long count, const PaStreamCallbackTimeInfo* time,
            PaStreamCallbackFlags flags, void* self) {
    auto& p = *static_cast<Player*>(self);
    const double now = monotonicSeconds();
    p.callbacks.fetch_add(1, std::memory_order_relaxed);
    if ((flags & paOutputUnderflow) != 0) {
        p.underflows.fetch_add(1, std::memory_order_relaxed);
    }
    if (p.firstCallback == 0) {
        p.firstCallback = now;
    }
    double lat = p.fallbackLatency;
    if (time != nullptr && time->currentTime > 0) {
        const double measured = time->outputBufferDacTime - time->currentTime;
        if (measured >= 0 && measured < 2) {
            lat = measured;
        }
    }
    p.latency.store(lat, std::memory_order_relaxed);
    p.bases[static_cast<std::size_t>(p.baseCount % kWindow)] =
        now + lat - static_cast<double>(p.frames) / p.rate;
    ++p.baseCount;
    const int n = std::min(p.baseCount, kWindow);
    std::array<double, kWindow> sorted = p.bases;
    std::sort(sorted.begin(), sorted.begin() + n);
    const double base = sorted[static_cast<std::size_t>(n / 2)];
    p.base.store(base, std::memory_order_relaxed);
    p.spread.store(sorted[static_cast<std::size_t>(n - 1)] - sorted[0], std::memory_order_relaxed);
    // Blocks rendered in a burst to fill the buffer at the start say nothing
    // about when they are heard: markers wait until the stream has run a while.
    if (now - p.firstCallback > 0.5 && p.baseCount > kWindow) {
        p.settled.store(true, std::memory_order_release);
    }

    auto* out = static_cast<float*>(output);
    const double first = static_cast<double>(p.frames);
    const double end = first + static_cast<double>(count);
    const int wantedNow = p.wantedCount.load(std::memory_order_acquire);
    int next = -1;
    for (int i = p.firstUndone; i < wantedNow; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        if (!p.done[slot] &&
            (next < 0 || p.wanted[slot] < p.wanted[static_cast<std::size_t>(next)])) {
            next = i;
        }
    }
    if (p.settled.load(std::memory_order_relaxed) && !p.sounding && next >= 0) {
        const double instant = p.wanted[static_cast<std::size_t>(next)];
        double at = (instant - base) * p.rate;
        if (at < end) {
            Placed placed;
            placed.instant = instant;
            if (at < first) {
                placed.lateMs = (first - at) / p.rate * 1000;
                at = first;
            }
            placed.frame = at;
            placed.spreadMs = p.spread.load(std::memory_order_relaxed) * 1000;
            const int slot = p.placedCount.load(std::memory_order_relaxed);
            p.placed[static_cast<std::size_t>(slot)] = placed;
            p.placedCount.store(slot + 1, std::memory_order_release);
            p.done[static_cast<std::size_t>(next)] = true;
            while (p.firstUndone < wantedNow && p.done[static_cast<std::size_t>(p.firstUndone)]) {
                ++p.firstUndone;
            }
            p.sounding = true;
            p.soundStart = at;
        }
    }
    for (unsigned long f = 0; f < count; ++f) {
        float right = 0;
        if (p.sounding) {
            // Frame k holds the wave at (k - start) / rate; the frame just
            // ahead of a fractional start holds the front's height scaled by
            // how near to the start it lies, which moves the front between
            // frames.
            const double k = first + static_cast<double>(f);
            const double t = (k - p.soundStart) / p.rate;
            if (t > -1 / p.rate && t < 0) {
                right = static_cast<float>(markerSample(0) * (1 + t * p.rate));
            } else {
                right = markerSample(t);
            }
            if (t >= 0.003) {
                p.sounding = false;
            }
        }
        out[2 * f] = 0;
        out[2 * f + 1] = right;
    }
    p.frames += static_cast<long long>(count);
    return paContinue;
}

}  // namespace

int main() {
    if (Pa_Initialize() != paNoError) {
        std::fprintf(stderr, "marker_player: PortAudio did not start\n");
        return 1;
    }
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (info == nullptr || info->maxOutputChannels < 2) {
        std::fprintf(stderr, "marker_player: no stereo output device\n");
        Pa_Terminate();
        return 1;
    }
    Player player;
    player.rate = info->defaultSampleRate;
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = 2;
    parameters.sampleFormat = paFloat32;
    parameters.suggestedLatency = info->defaultHighOutputLatency;
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, nullptr, &parameters, player.rate, paFramesPerBufferUnspecified,
                      paNoFlag, onBlock, &player) != paNoError) {
        std::fprintf(stderr, "marker_player: the stream did not open\n");
        Pa_Terminate();
        return 1;
    }
    if (const PaStreamInfo* si = Pa_GetStreamInfo(stream)) {
        player.fallbackLatency = si->outputLatency;
    }
    Pa_StartStream(stream);
    while (!player.settled.load(std::memory_order_acquire)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::printf("ready %.0f %.3f %.3f\n", player.rate, player.latency.load() * 1000,
                player.spread.load() * 1000);
    std::fflush(stdout);

    // Input on its own thread; this one reports what was placed.
    std::atomic<bool> inputDone{false};
    std::thread reader([&] {
        std::string line;
        while (std::getline(std::cin, line)) {
            const double instant = std::strtod(line.c_str(), nullptr);
            if (instant <= 0) {
                continue;
            }
            const int slot = player.wantedCount.load(std::memory_order_relaxed);
            if (slot == kQueue) {
                std::fprintf(stderr, "marker_player: more than %d markers\n", kQueue);
                continue;
            }
            player.wanted[static_cast<std::size_t>(slot)] = instant;
            player.wantedCount.store(slot + 1, std::memory_order_release);
        }
        inputDone.store(true, std::memory_order_release);
    });
    int reported = 0;
    for (;;) {
        const int placed = player.placedCount.load(std::memory_order_acquire);
        for (; reported < placed; ++reported) {
            const Placed& m = player.placed[static_cast<std::size_t>(reported)];
            std::printf("marker %.6f %.3f %.3f %.3f\n", m.instant, m.frame, m.lateMs, m.spreadMs);
        }
        std::fflush(stdout);
        if (inputDone.load(std::memory_order_acquire) &&
            reported == player.wantedCount.load(std::memory_order_acquire)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The last marker's sound, and the stream's buffer, played out.
    std::this_thread::sleep_for(std::chrono::milliseconds(300) +
                                std::chrono::duration<double>(player.latency.load()));
    reader.join();
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    std::printf("end %lld %lld\n", player.underflows.load(), player.callbacks.load());
    Pa_Terminate();
    return 0;
}

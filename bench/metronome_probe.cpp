// Timing probe of the metronome. Three modes:
//   offline SECONDS BPM             renders the clicks in memory and measures
//                                   each onset against the exact grid
//   play SECONDS BPM                plays them through PortAudio's default
//                                   device; prints the render cost per buffer,
//                                   the reported latency, how long the GUI-side
//                                   calls take, that the stream stops itself
//                                   once quiet and that the idle process then
//                                   makes no context switches, and the exit time
//   analyze FILE RATE CHANNELS BPM  finds the onsets in a float32 recording
//                                   (e.g. of a sink's monitor) and measures the
//                                   period and the spread of the onsets
// bench/metronome_probe.sh runs all three against a private PulseAudio.

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>

#include "audio/audio_output.h"
#include "audio/offline_output.h"
#include "audio/portaudio_output.h"

namespace {

using namespace pulsaro;
using Clock = std::chrono::steady_clock;

// A click with a sharp front: a decaying 1.5 kHz cosine, full height on its
// first sample, 20 ms long.
std::array<PcmSound, 3> clickSounds() {
    PcmSound click;
    click.sampleRate = 48000;
    click.channels = 1;
    for (int n = 0; n < 960; ++n) {
        const double t = n / 48000.0;
        click.samples.push_back(static_cast<float>(0.8 * std::cos(2 * std::numbers::pi * 1500 * t) *
                                                   std::exp(-t / 0.003)));
    }
    return {click, click, click};
}

Fixed tempoArgument(const char* text) {
    return static_cast<Fixed>(std::llround(std::strtod(text, nullptr) * kFixedScale));
}

double bpmOf(Fixed tempo) {
    return static_cast<double>(tempo) / kFixedScale;
}

// Onset errors against a reference, in frames: the largest, the standard
// deviation, and the drift (slope of a least-squares line over the run).
struct ErrorFigures {
    double maxAbs = 0;
    double stddev = 0;
    double drift = 0;
};

ErrorFigures figures(const std::vector<double>& errors) {
    ErrorFigures f;
    const auto n = static_cast<double>(errors.size());
    double mean = 0;
    for (double e : errors) {
        mean += e / n;
        f.maxAbs = std::max(f.maxAbs, std::fabs(e));
    }
    double var = 0;
    double sxy = 0;
    double sxx = 0;
    for (std::size_t k = 0; k < errors.size(); ++k) {
        var += (errors[k] - mean) * (errors[k] - mean) / n;
        const double x = static_cast<double>(k) - (n - 1) / 2;
        sxy += x * (errors[k] - mean);
        sxx += x * x;
    }
    f.stddev = std::sqrt(var);
    f.drift = sxx > 0 ? sxy / sxx * (n - 1) : 0;
    return f;
}

void printFigures(const char* what, const ErrorFigures& f, double rate) {
    std::printf(
        "  %s: max |error| %.3f frames (%.4f ms), std %.3f frames (%.4f ms), "
        "drift over the run %.4f frames (%.5f ms)\n",
        what, f.maxAbs, f.maxAbs * 1000 / rate, f.stddev, f.stddev * 1000 / rate, f.drift,
        f.drift * 1000 / rate);
}

void printStats(const RenderStats& s, double rate) {
    if (s.blocks == 0) {
        std::printf("  no blocks rendered\n");
        return;
    }
    std::printf(
        "  %llu buffers of %.1f frames on average, %llu underflows, %llu dropouts seen on the "
        "stream's clock (%llu frames skipped, largest difference %.2f ms); render CPU time per "
        "buffer: mean %.2f us, max %.2f us (%.4f%% of real time)\n",
        static_cast<unsigned long long>(s.blocks),
        static_cast<double>(s.frames) / static_cast<double>(s.blocks),
        static_cast<unsigned long long>(s.underflows), static_cast<unsigned long long>(s.dropouts),
        static_cast<unsigned long long>(s.framesSkipped), s.clockDifferenceMax * 1000,
        s.cpuSecondsTotal / static_cast<double>(s.blocks) * 1e6, s.cpuSecondsMax * 1e6,
        s.cpuSecondsTotal / (static_cast<double>(s.frames) / rate) * 100);
}

int offline(double seconds, Fixed tempo) {
    constexpr std::uint32_t kRate = 48000;
    OfflineOutput output(kRate, 2);
    output.loadSounds(clickSounds());
    output.enableStats(true);
    // The taps' grid lies in the past, with a latency of a fraction of a frame.
    const double frame0 = 1000.0;
    const double latency = 0.0107321;
    const double grid = 999.0;
    output.setClockMapping(frame0, latency);
    if (output.startClicks(tempo, BeatGrid{grid}) == 0) {
        std::fprintf(stderr, "tempo refused\n");
        return 1;
    }
    const auto total = static_cast<std::int64_t>(seconds * kRate);
    std::vector<std::int64_t> onsets;
    float previous = 0;
    std::vector<float> block(256 * 2);
    while (output.position() < total) {
        const std::int64_t start = output.position();
        output.render(block.data(), 256);
        for (std::int64_t f = 0; f < 256; ++f) {
            const float sample = block[static_cast<std::size_t>(f) * 2];
            if (sample != 0 && previous == 0) {
                onsets.push_back(start + f);
            }
            previous = sample;
        }
    }
    const long double period = 60.0L * kRate * kFixedScale / static_cast<long double>(tempo);
    const long double anchor = (static_cast<long double>(grid) - frame0 - latency) * kRate;
    const auto firstK = static_cast<std::int64_t>(std::ceil(-anchor / period));
    auto idealFrame = [&](std::size_t i) {
        return anchor + static_cast<long double>(firstK + static_cast<std::int64_t>(i)) * period;
    };
    std::vector<double> errors;
    std::int64_t offRounded = 0;
    for (std::size_t i = 0; i < onsets.size(); ++i) {
        errors.push_back(static_cast<double>(static_cast<long double>(onsets[i]) - idealFrame(i)));
        offRounded =
            std::max<std::int64_t>(offRounded, std::llabs(onsets[i] - std::llround(idealFrame(i))));
    }
    std::printf("offline, %.4f BPM, %.0f s at %u Hz: %zu clicks, period %.6Lf frames\n",
                bpmOf(tempo), seconds, kRate, onsets.size(), period);
    printFigures("onsets against the exact grid", figures(errors), kRate);
    // What is left above is each onset's rounding to a whole frame: against
    // the grid's frames rounded one by one nothing may differ, and then the
    // last click has drifted no more than the first.
    const std::size_t last = onsets.size() - 1;
    const std::int64_t drift =
        (onsets[last] - std::llround(idealFrame(last))) - (onsets[0] - std::llround(idealFrame(0)));
    std::printf(
        "  onsets against the grid rounded to frames: max |error| %lld frames, drift over "
        "the run %lld frames\n",
        static_cast<long long>(offRounded), static_cast<long long>(drift));
    printStats(output.stats(), kRate);
    return 0;
}

// Voluntary plus involuntary context switches of every thread of this
// process, and how many threads there are.
std::pair<long, int> contextSwitches() {
    long total = 0;
    int threads = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            ++threads;
            std::ifstream status(std::string("/proc/self/task/") + entry->d_name + "/status");
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                    line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                    total += std::strtol(line.substr(line.find(':') + 1).c_str(), nullptr, 10);
                }
            }
        }
        closedir(dir);
    }
    return {total, threads};
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int play(double seconds, Fixed tempo) {
    auto output = std::make_unique<PortAudioOutput>();
    auto begin = Clock::now();
    const int devices = output->outputDeviceCount();
    std::printf("PortAudio, %.4f BPM for %.0f s: %d output devices (start-up %.1f ms)\n",
                bpmOf(tempo), seconds, devices, msSince(begin));
    if (devices == 0) {
        return 1;
    }
    output->loadSounds(clickSounds());
    output->enableStats(true);

    // A grid start on a closed stream: opens it, waits for its first block.
    begin = Clock::now();
    const double now = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    std::uint32_t id = output->startClicks(tempo, BeatGrid{now});
    std::printf("  startClicks with a grid, stream closed: %.1f ms on the calling thread\n",
                msSince(begin));
    output->stopClicks(id);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    begin = Clock::now();
    id = output->startClicks(tempo, std::nullopt);
    std::printf("  startClicks, stream running: %.3f ms on the calling thread\n", msSince(begin));

    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    output->stopClicks(id);
    const RenderStats stats = output->stats();
    std::printf(
        "  stream: %.0f Hz, %d channels; latency %.2f ms when opened, reported per "
        "buffer %.2f to %.2f ms\n",
        output->outputRate(), output->outputChannels(), output->openedLatency().value_or(0) * 1000,
        stats.latencyMin * 1000, stats.latencyMax * 1000);
    printStats(stats, output->outputRate());

    // The stream stops itself a few seconds after the last click.
    begin = Clock::now();
    while (output->streamRunning() && msSince(begin) < 10000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::printf("  stream stopped itself %.0f ms after the clicks stopped\n", msSince(begin));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto before = contextSwitches();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto after = contextSwitches();
    // The probe's own sleep accounts for one switch of the main thread.
    std::printf("  idle: %ld context switches in 2 s over %d threads (1 is this sleep)\n",
                after.first - before.first, after.second);

    // A command on the stopped stream reopens it at once.
    begin = Clock::now();
    output->playOnce(0);
    std::printf("  playOnce on the stopped stream: %.1f ms on the calling thread\n",
                msSince(begin));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    begin = Clock::now();
    output.reset();
    std::printf("  shutting PortAudio down with a stream open: %.1f ms\n", msSince(begin));
    return 0;
}

int analyze(const char* path, double rate, int channels, Fixed tempo) {
    std::ifstream file(path, std::ios::binary);
    std::vector<float> samples;
    std::array<float, 4096> buffer{};
    while (file.read(reinterpret_cast<char*>(buffer.data()), sizeof buffer) || file.gcount() > 0) {
        samples.insert(
            samples.end(), buffer.begin(),
            buffer.begin() + file.gcount() / static_cast<std::streamsize>(sizeof(float)));
    }
    // Onsets: the first sample above the threshold after 20 ms below it,
    // placed between samples by linear interpolation.
    const double threshold = 0.3;
    const auto quiet = static_cast<std::size_t>(0.02 * rate);
    std::vector<double> onsets;
    std::size_t below = quiet;
    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
    for (std::size_t f = 1; f < frames; ++f) {
        const double x = samples[f * static_cast<std::size_t>(channels)];
        if (x > threshold) {
            if (below >= quiet) {
                const double p = samples[(f - 1) * static_cast<std::size_t>(channels)];
                onsets.push_back(static_cast<double>(f) - 1 + (threshold - p) / (x - p));
            }
            below = 0;
        } else if (std::fabs(x) < threshold) {
            ++below;
        }
    }
    // The metronome's run: the longest chain of onsets one period apart (the
    // probe's other clicks lie apart from it).
    const double nominal = 60.0 * rate * kFixedScale / static_cast<double>(tempo);
    std::size_t bestStart = 0;
    std::size_t bestLength = onsets.empty() ? 0 : 1;
    for (std::size_t start = 0, k = 1; k <= onsets.size(); ++k) {
        if (k == onsets.size() || std::fabs(onsets[k] - onsets[k - 1] - nominal) > 0.02 * nominal) {
            if (k - start > bestLength) {
                bestStart = start;
                bestLength = k - start;
            }
            start = k;
        }
    }
    const std::size_t found = onsets.size();
    onsets =
        std::vector<double>(onsets.begin() + static_cast<std::ptrdiff_t>(bestStart),
                            onsets.begin() + static_cast<std::ptrdiff_t>(bestStart + bestLength));
    if (onsets.size() < 3) {
        std::printf("recording %s: %zu onsets in a row, too few to measure\n", path, onsets.size());
        return 1;
    }
    const double meanPeriod =
        (onsets.back() - onsets.front()) / static_cast<double>(onsets.size() - 1);
    std::vector<double> errors;
    for (std::size_t k = 0; k < onsets.size(); ++k) {
        errors.push_back(onsets[k] - onsets.front() - static_cast<double>(k) * nominal);
    }
    std::printf("recording, %.4f BPM at %.0f Hz: %zu clicks in a row over %.1f s (%zu found)\n",
                bpmOf(tempo), rate, onsets.size(), (onsets.back() - onsets.front()) / rate, found);
    std::printf("  mean period %.5f ms, nominal %.5f ms, difference %.5f ms\n",
                meanPeriod * 1000 / rate, nominal * 1000 / rate,
                (meanPeriod - nominal) * 1000 / rate);
    printFigures("onsets against the nominal grid from the first", figures(errors), rate);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The sound environment the program itself runs with.
    prepareSoundEnvironment();
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "offline" && argc == 4) {
        return offline(std::strtod(argv[2], nullptr), tempoArgument(argv[3]));
    }
    if (mode == "play" && argc == 4) {
        return play(std::strtod(argv[2], nullptr), tempoArgument(argv[3]));
    }
    if (mode == "analyze" && argc == 6) {
        return analyze(argv[2], std::strtod(argv[3], nullptr), std::atoi(argv[4]),
                       tempoArgument(argv[5]));
    }
    std::fprintf(stderr,
                 "usage: metronome_probe offline SECONDS BPM\n"
                 "       metronome_probe play SECONDS BPM\n"
                 "       metronome_probe analyze FILE.f32 RATE CHANNELS BPM\n");
    return 2;
}

// MIDI clock timing probe: opens Pulsaro's JACK MIDI ports under the running
// server (JACK_DEFAULT_SERVER), starts the clock on a grid anchored a moment
// ahead on the tap clock, records clock_out with a client of its own, and
// prints one line: pulses, missed, doubled, and the error of each pulse's
// frame against the exact grid (beat 0 at the anchor, mapped onto frames
// through JACK's own time estimate of the cycle the recorder saw first).
//
// Usage: midi_clock_probe BPM SECONDS
#include <jack/jack.h>
#include <jack/midiport.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>

#include "audio/midi_ports.h"

namespace {

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Recorder {
    jack_client_t* client = nullptr;
    jack_port_t* in = nullptr;
    std::array<std::int64_t, 1 << 17> pulses{};
    std::atomic<std::size_t> count{0};
    std::atomic<bool> stopped{false};
    // Beat 0 on JACK's clock (set before the clock starts) and on frames
    // (set by the first cycle after that).
    std::atomic<std::int64_t> anchorUsecs{-1};
    std::atomic<double> anchorFrame{-1};

    static int process(jack_nframes_t frames, void* arg) {
        auto& self = *static_cast<Recorder*>(arg);
        jack_nframes_t start = 0;
        jack_time_t now = 0, next = 0;
        float period = 0;
        jack_get_cycle_times(self.client, &start, &now, &next, &period);
        if (const std::int64_t at = self.anchorUsecs.load(); at >= 0 && self.anchorFrame < 0) {
            self.anchorFrame = static_cast<double>(
                start + static_cast<long double>(at - static_cast<std::int64_t>(now)) * frames /
                            static_cast<long double>(next - now));
        }
        void* buffer = jack_port_get_buffer(self.in, frames);
        jack_midi_event_t e;
        for (std::uint32_t i = 0; jack_midi_event_get(&e, buffer, i) == 0; ++i) {
            const std::size_t n = self.count;
            if (e.buffer[0] == 0xF8 && n < self.pulses.size()) {
                self.pulses[n] = start + e.time;
                self.count = n + 1;
            } else if (e.buffer[0] == 0xFC) {
                self.stopped = true;
            }
        }
        return 0;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BPM SECONDS\n", argv[0]);
        return 2;
    }
    const double bpm = std::atof(argv[1]);
    const double seconds = std::atof(argv[2]);
    const auto tempo = static_cast<pulsaro::Fixed>(std::llround(bpm * 10000));
    static Recorder rec;
    rec.client = jack_client_open("midi_clock_probe", JackNoStartServer, nullptr);
    if (rec.client == nullptr) {
        std::fprintf(stderr, "no JACK server\n");
        return 1;
    }
    rec.in = jack_port_register(rec.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(rec.client, &Recorder::process, &rec);
    jack_activate(rec.client);
    auto ports = pulsaro::makeJackMidiPorts();
    if (const std::string why = ports->configure({.clockOut = true}); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    const std::string port = std::string(jack_get_client_name(rec.client)) + ":in";
    jack_connect(rec.client, "pulsaro:clock_out", port.c_str());
    const double rate = jack_get_sample_rate(rec.client);

    // The anchor on both clocks, through the tightest of a few readings.
    const std::int64_t anchorNs = steadyNs() + 100'000'000;
    std::int64_t width = std::numeric_limits<std::int64_t>::max(), lead = 0;
    for (int i = 0; i < 8; ++i) {
        const std::int64_t a = steadyNs();
        const auto j = static_cast<std::int64_t>(jack_get_time());
        const std::int64_t b = steadyNs();
        if (b - a < width) {
            width = b - a;
            lead = j * 1000 - (a + b) / 2;
        }
    }
    rec.anchorUsecs = (anchorNs + lead) / 1000;
    ports->startClock(tempo, static_cast<double>(anchorNs) / 1e9);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    ports->stopClock();
    for (int i = 0; i < 200 && !rec.stopped; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    jack_deactivate(rec.client);

    const long double pulse = 60.0L * rate / (24.0L * bpm);
    const long double anchor = rec.anchorFrame;
    const std::size_t count = rec.count;
    long double maxError = 0, sumError = 0;
    std::int64_t doubled = 0, firstN = 0, lastN = -1;
    for (std::size_t i = 0; i < count; ++i) {
        const long double at = static_cast<long double>(rec.pulses[i]);
        const auto n = static_cast<std::int64_t>(std::llroundl((at - anchor) / pulse));
        const long double error = std::fabs(at - (anchor + n * pulse));
        maxError = std::max(maxError, error);
        sumError += error;
        if (i == 0) {
            firstN = n;
        } else if (n == lastN) {
            ++doubled;
        }
        lastN = n;
    }
    const std::int64_t missed = count == 0 ? 0 : (lastN - firstN + 1) - (count - doubled);
    std::printf(
        "%-7s pulses %6zu  missed %3lld  doubled %3lld  error max %7.2Lf  mean %7.2Lf frames%s\n",
        argv[1], count, static_cast<long long>(missed), static_cast<long long>(doubled), maxError,
        count ? sumError / count : 0.0L, rec.stopped ? "" : "  (no Stop)");
    jack_client_close(rec.client);
    return count > 0 && rec.stopped ? 0 : 1;
}

// JACK MIDI ports against a private dummy server (run_jack_tests.sh starts it
// and names it in JACK_DEFAULT_SERVER; the tests skip without one).
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

#include "audio/midi_ports.h"

namespace pulsaro {
namespace {

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Polls until done() or the limit, in real seconds.
template <typename F>
bool waitFor(F done, double seconds) {
    const std::int64_t end = steadyNs() + static_cast<std::int64_t>(seconds * 1e9);
    for (;;) {
        if (done())
            return true;
        if (steadyNs() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

struct Scheduled {
    std::int64_t at;  // frames after the sender's base frame
    std::array<unsigned char, 3> bytes;
    bool tap;
};

// A test client with one MIDI port: records every event on "in" with its
// absolute frame, or plays `schedule` on "out" from its first cycle on,
// noting when each tap was due on the tap clock.
struct Peer {
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    std::array<std::pair<std::int64_t, unsigned char>, 8192> events{};
    std::atomic<std::size_t> recorded{0};
    std::vector<Scheduled> schedule;
    std::vector<std::int64_t> dueNs;
    std::int64_t base = -1;
    std::atomic<std::size_t> sent{0};

    Peer(const char* name, bool sender) {
        const auto options = static_cast<jack_options_t>(JackNoStartServer | JackUseExactName);
        waitFor([&] { return (client = jack_client_open(name, options, nullptr)) != nullptr; }, 5);
        if (client == nullptr) {
            return;
        }
        port = jack_port_register(client, sender ? "out" : "in", JACK_DEFAULT_MIDI_TYPE,
                                  sender ? JackPortIsOutput : JackPortIsInput, 0);
        jack_set_process_callback(client, sender ? &Peer::play : &Peer::record, this);
    }
    ~Peer() {
        if (client != nullptr) {
            jack_client_close(client);
        }
    }
    static int record(jack_nframes_t frames, void* arg) {
        auto& self = *static_cast<Peer*>(arg);
        void* buffer = jack_port_get_buffer(self.port, frames);
        const jack_nframes_t start = jack_last_frame_time(self.client);
        jack_midi_event_t e;
        for (std::uint32_t i = 0; jack_midi_event_get(&e, buffer, i) == 0; ++i) {
            const std::size_t n = self.recorded.load(std::memory_order_relaxed);
            if (n < self.events.size()) {
                self.events[n] = {start + e.time, e.buffer[0]};
                self.recorded.store(n + 1, std::memory_order_release);
            }
        }
        return 0;
    }
    static int play(jack_nframes_t frames, void* arg) {
        auto& self = *static_cast<Peer*>(arg);
        void* buffer = jack_port_get_buffer(self.port, frames);
        jack_midi_clear_buffer(buffer);
        const std::int64_t start = jack_last_frame_time(self.client);
        // A second after the first cycle: JACK's estimate of the cycle times
        // settles after a client joins.
        self.base = self.base < 0 ? start + 48000 + 37 : self.base;
        for (std::size_t i = self.sent; i < self.schedule.size(); ++i) {
            const std::int64_t frame = self.base + self.schedule[i].at;
            if (frame >= start + frames) {
                break;
            }
            jack_midi_event_write(buffer, static_cast<jack_nframes_t>(frame - start),
                                  self.schedule[i].bytes.data(), 3);
            const std::int64_t now = steadyNs();
            const auto jackNow = static_cast<std::int64_t>(jack_get_time());
            const auto when = static_cast<std::int64_t>(
                jack_frames_to_time(self.client, static_cast<jack_nframes_t>(frame)));
            self.dueNs[i] = now + (when - jackNow) * 1000;
            self.sent.store(i + 1, std::memory_order_release);
        }
        return 0;
    }
};

bool haveServer() {
    return std::getenv("JACK_DEFAULT_SERVER") != nullptr;
}

TEST(JackMidi, WithoutAServerSaysWhyAndPrintsNothing) {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    const std::string saved = server != nullptr ? server : "";
    setenv("JACK_DEFAULT_SERVER", ("pulsaro-none-" + std::to_string(getpid())).c_str(), 1);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const int savedOut = dup(1), savedErr = dup(2);
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    auto ports = makeJackMidiPorts();
    const std::string why = ports->configure({.clockOut = true, .tapIn = true});
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(pipeFds[1]);
    char printed[256];
    EXPECT_EQ(read(pipeFds[0], printed, sizeof printed), 0);
    EXPECT_EQ(why, "No JACK server is running");
    EXPECT_EQ(ports->tapNotifier(), -1);
    EXPECT_EQ(ports->configure({}), "");
    saved.empty() ? unsetenv("JACK_DEFAULT_SERVER")
                  : setenv("JACK_DEFAULT_SERVER", saved.c_str(), 1);
}

// Both tempos at once (one minute of frames takes one minute on the dummy
// driver): the first instance's client is "pulsaro", JACK names the second
// "pulsaro-01".
TEST(JackMidi, ClockPulsesLieOnTheExactGrid) {
    if (!haveServer())
        GTEST_SKIP() << "no private JACK server";
    struct Row {
        Fixed tempo;
        const char* client;
        const char* source;
        const char* sink;
        std::unique_ptr<MidiPorts> ports;
        std::unique_ptr<Peer> rec;
        jack_nframes_t anchor;
    };
    std::array<Row, 2> rows{
        {{1'200'000, "rec0", "pulsaro:clock_out", "rec0:in", makeJackMidiPorts(), nullptr, 0},
         {1'273'000, "rec1", "pulsaro-01:clock_out", "rec1:in", makeJackMidiPorts(), nullptr, 0}}};
    for (Row& row : rows) {
        row.rec = std::make_unique<Peer>(row.client, false);
        ASSERT_NE(row.rec->client, nullptr);
        ASSERT_EQ(jack_activate(row.rec->client), 0);
        ASSERT_EQ(row.ports->configure({.clockOut = true}), "");
        ASSERT_EQ(jack_connect(row.rec->client, row.source, row.sink), 0);
        const std::int64_t anchorNs = steadyNs() + 200'000'000;
        const auto jackLead = static_cast<std::int64_t>(jack_get_time()) - steadyNs() / 1000;
        row.ports->startClock(row.tempo, static_cast<double>(anchorNs) / 1e9);
        row.anchor = jack_time_to_frames(row.rec->client,
                                         static_cast<jack_time_t>(anchorNs / 1000 + jackLead));
    }
    const double rate = jack_get_sample_rate(rows[0].rec->client);
    for (Row& row : rows) {
        SCOPED_TRACE(row.tempo);
        Peer& rec = *row.rec;
        // Start and a minute of pulses.
        const auto minute = static_cast<std::size_t>(24 * row.tempo / 10000);
        ASSERT_TRUE(waitFor([&] { return rec.recorded > minute + 1; }, 90));
        row.ports->stopClock();
        ASSERT_TRUE(waitFor([&] { return rec.events[rec.recorded - 1].second == 0xFC; }, 2));
        const std::size_t n = rec.recorded;
        EXPECT_EQ(rec.events[0].second, 0xFA);
        const long double pulse = 60.0L * rate * 10000 / (24.0L * row.tempo);
        long double low = 1e30L, high = -1e30L;
        for (std::size_t i = 1; i + 1 < n; ++i) {
            ASSERT_EQ(rec.events[i].second, 0xF8) << i;
            const long double off = rec.events[i].first - static_cast<long double>(i - 1) * pulse;
            low = std::min(low, off);
            high = std::max(high, off);
        }
        EXPECT_LT(high - low, 1.0L);
        EXPECT_LT(rec.events[0].first, rec.events[1].first);
        // The first pulse is a whole beat of the grid that startClock gave.
        const long double beats = (rec.events[1].first - row.anchor) / (24 * pulse);
        EXPECT_NEAR(static_cast<double>(beats - std::round(beats)), 0.0, 0.02);
        EXPECT_GT(rec.events[n - 1].first, rec.events[n - 2].first);
        // Nothing more after Stop; with both ports off the client is gone.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(rec.recorded, n);
        EXPECT_EQ(row.ports->configure({}), "");
        EXPECT_EQ(jack_port_by_name(rec.client, row.source), nullptr);
    }
}

TEST(JackMidi, NoteOnsAndPedalPressesTapOnTheirFrames) {
    if (!haveServer())
        GTEST_SKIP() << "no private JACK server";
    auto ports = makeJackMidiPorts();
    ASSERT_EQ(ports->configure({.tapIn = true, .tapNote = 60, .tapController = 64}), "");
    const int fd = ports->tapNotifier();
    ASSERT_GE(fd, 0);
    Peer send("send", true);
    ASSERT_NE(send.client, nullptr);
    send.schedule = {{0, {0x90, 60, 100}, true},      {12000, {0xB0, 64, 127}, true},
                     {13000, {0xB0, 64, 100}, false}, {14000, {0x91, 61, 90}, false},
                     {24000, {0x90, 60, 1}, true},    {36000, {0xB0, 64, 0}, false},
                     {38000, {0x90, 60, 0}, false},   {48000, {0x92, 60, 127}, true},
                     {60000, {0xB0, 64, 64}, true},   {72000, {0x80, 60, 64}, false},
                     {72000, {0x90, 60, 64}, true},   {96000, {0x90, 60, 64}, true}};
    send.dueNs.resize(send.schedule.size());
    ASSERT_EQ(jack_activate(send.client), 0);
    ASSERT_EQ(jack_connect(send.client, "send:out", "pulsaro:tap_in"), 0);
    ASSERT_TRUE(waitFor([&] { return send.sent == send.schedule.size(); }, 6));
    pollfd watch{fd, POLLIN, 0};
    ASSERT_EQ(poll(&watch, 1, 1000), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::vector<TapInstant> taps = ports->takeTaps();
    EXPECT_EQ(poll(&watch, 1, 0), 0);
    std::vector<std::int64_t> due, frames;
    for (std::size_t i = 0; i < send.schedule.size(); ++i) {
        if (send.schedule[i].tap) {
            due.push_back(send.dueNs[i]);
            frames.push_back(send.schedule[i].at);
        }
    }
    ASSERT_EQ(taps.size(), due.size());
    // The run's first tap lies where JACK puts its frame in time; every later
    // one as many frames on as were sent, to the frame, even where JACK's
    // estimate of the cycle times wanders or a struggling dummy driver lets
    // its frames fall behind real time. So 500 ms apart read 120.0 exactly.
    EXPECT_NEAR(static_cast<double>(taps[0].count * 100 - due[0]), 0.0, 1e6);
    for (std::size_t i = 0; i < taps.size(); ++i) {
        EXPECT_EQ(taps[i].frequency, 10'000'000);
        const double sent = static_cast<double>(frames[i] - frames[0]) * 1e9 / 48000;
        EXPECT_NEAR(static_cast<double>((taps[i].count - taps[0].count) * 100), sent, 0.05e6) << i;
    }
}

}  // namespace
}  // namespace pulsaro

// JACK MIDI ports: "clock_out" sends MIDI clock on the metronome's grid and
// "tap_in" turns note-ons and a pedal into taps. JACK's process thread does
// all the timing work; the GUI thread talks to it through a fixed-size
// single-producer/single-consumer queue and takes the taps back through
// another, with an eventfd to wake its socket notifier.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>

#include "audio/midi_ports.h"
#include "core/click_engine.h"

namespace pulsaro {

namespace {

static_assert(std::atomic<std::int64_t>::is_always_lock_free);
static_assert(std::atomic<jack_port_t*>::is_always_lock_free);

extern "C" {
static void ignoreJackText(const char*) {}
}

constexpr int kPulsesPerBeat = 24;
constexpr unsigned char kClock = 0xF8;
constexpr unsigned char kStart = 0xFA;
constexpr unsigned char kStop = 0xFC;

std::int64_t steadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// JACK's microsecond clock minus the tap clock, in nanoseconds: the tightest
// of a few back-to-back readings. Both are usually CLOCK_MONOTONIC, but
// nothing here counts on it.
std::int64_t measureJackOffset() {
    std::int64_t bestWidth = std::numeric_limits<std::int64_t>::max();
    std::int64_t offset = 0;
    for (int i = 0; i < 8; ++i) {
        const std::int64_t before = steadyNanoseconds();
        const auto jack = static_cast<std::int64_t>(jack_get_time());
        const std::int64_t after = steadyNanoseconds();
        if (after - before < bestWidth) {
            bestWidth = after - before;
            offset = jack * 1000 - (before + (after - before) / 2);
        }
    }
    return offset;
}

// Fixed-size ring between exactly one producer and one consumer thread.
template <typename T, std::size_t N>
class SpscRing {
public:
    bool push(const T& item) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == N) {
            return false;
        }
        slots_[head % N] = item;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    bool pop(T& item) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) {
            return false;
        }
        item = slots_[tail % N];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }
    // Only while neither side runs.
    void clear() {
        head_.store(0, std::memory_order_relaxed);
        tail_.store(0, std::memory_order_relaxed);
    }

private:
    std::array<T, N> slots_{};
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

struct ClockCommand {
    enum class Kind : std::uint8_t { Start, Stop } kind = Kind::Stop;
    Fixed tempo = 0;
    // Beat 0 on JACK's microsecond clock.
    long double anchorMicroseconds = 0;
};

class JackMidiPorts final : public MidiPorts {
public:
    JackMidiPorts() = default;
    JackMidiPorts(const JackMidiPorts&) = delete;
    JackMidiPorts& operator=(const JackMidiPorts&) = delete;
    ~JackMidiPorts() override { closeClient(); }

    std::string configure(const Options& options) override;
    void startClock(Fixed tempo, double anchorSeconds) override;
    void stopClock() override;
    std::vector<TapInstant> takeTaps() override;
    int tapNotifier() const override { return tapFd_.load(std::memory_order_relaxed); }

private:
    std::string openClient();
    void closeClient();
    bool openPort(std::atomic<jack_port_t*>& port, const char* name, unsigned long flags);
    void closePort(std::atomic<jack_port_t*>& port);
    // Returns once the process thread has begun a cycle after this call (or
    // after a second without one: a stalled server calls nothing).
    void awaitCycle() const;

    static int processThunk(jack_nframes_t frames, void* self) {
        static_cast<JackMidiPorts*>(self)->process(frames);
        return 0;
    }
    static void shutdownThunk(jack_status_t, const char*, void* self) {
        static_cast<JackMidiPorts*>(self)->serverGone_.store(true, std::memory_order_release);
    }

    // --- process thread ----------------------------------------------------
    void process(jack_nframes_t frames);
    void applyClock(const ClockCommand& command, std::int64_t cycleStart, long double cycleUsecs,
                    long double framesPerUsec);
    void sendClock(void* buffer, std::int64_t cycleStart, jack_nframes_t frames);
    void readTaps(void* buffer, jack_nframes_t cycleStart32, std::int64_t cycleStart);

    // GUI-thread state.
    jack_client_t* client_ = nullptr;
    double rate_ = 48000;
    bool clockRunning_ = false;

    // Shared.
    std::atomic<jack_port_t*> clockPort_{nullptr};
    std::atomic<jack_port_t*> tapPort_{nullptr};
    std::atomic<int> tapFd_{-1};
    std::atomic<int> tapNote_{-1};
    std::atomic<int> tapController_{64};
    std::atomic<std::int64_t> jackOffsetNs_{0};
    std::atomic<std::uint64_t> cycles_{0};
    std::atomic<bool> serverGone_{false};
    SpscRing<ClockCommand, 32> commands_;
    SpscRing<TapInstant, 256> taps_;

    // Process-thread state. Frames are counted in 64 bits from JACK's
    // wrapping 32-bit frame time.
    bool haveFrame_ = false;
    jack_nframes_t lastFrame32_ = 0;
    std::int64_t frame64_ = 0;
    // The clock: running_ from a Start command to a Stop command; startFrame_
    // is where Start goes while startPending_.
    bool running_ = false;
    bool startPending_ = false;
    Fixed pulseTempo_ = 0;
    long double anchorFrame_ = 0;
    std::int64_t startFrame_ = 0;
    std::int64_t nextPulse_ = 0;
    std::int64_t nextPulseFrame_ = 0;
    // Taps: where the current run's first tap fell, in frames and on the
    // tap clock, and the frame of the last tap.
    static constexpr double kRunPauseSeconds = 2.5;
    bool haveTapReference_ = false;
    std::int64_t tapReferenceFrame_ = 0;
    std::int64_t tapReferenceNs_ = 0;
    std::int64_t lastTapFrame_ = 0;
    std::int64_t lastPulseFrame_ = std::numeric_limits<std::int64_t>::min();
    // Pulses since Start: the receiver counts its beats from them.
    std::int64_t pulsesSent_ = 0;
    bool stopPending_ = false;
    std::array<bool, 16> pedalDown_{};
};

std::string JackMidiPorts::configure(const Options& options) {
    if (options.tapNote < -1 || options.tapNote > 127 || options.tapController < -1 ||
        options.tapController > 127) {
        closeClient();
        return "The tap note or controller is not between 0 and 127";
    }
    tapNote_.store(options.tapNote, std::memory_order_relaxed);
    tapController_.store(options.tapController, std::memory_order_relaxed);
    if (!options.clockOut && !options.tapIn) {
        closeClient();
        return "";
    }
    if (client_ != nullptr && serverGone_.load(std::memory_order_acquire)) {
        closeClient();
    }
    if (client_ == nullptr) {
        if (std::string why = openClient(); !why.empty()) {
            return why;
        }
    }
    if (!options.clockOut) {
        closePort(clockPort_);
    }
    if (!options.tapIn) {
        closePort(tapPort_);
    }
    if ((options.clockOut && !openPort(clockPort_, "clock_out", JackPortIsOutput)) ||
        (options.tapIn && !openPort(tapPort_, "tap_in", JackPortIsInput))) {
        closeClient();
        return "The JACK server refused the MIDI ports";
    }
    return "";
}

std::string JackMidiPorts::openClient() {
    jack_set_error_function(&ignoreJackText);
    jack_set_info_function(&ignoreJackText);
    jack_status_t status{};
    client_ = jack_client_open("pulsaro", JackNoStartServer, &status);
    if (client_ == nullptr) {
        return (status & JackServerFailed) != 0 ? "No JACK server is running"
                                                : "The JACK server refused the connection";
    }
    serverGone_.store(false, std::memory_order_relaxed);
    rate_ = jack_get_sample_rate(client_);
    jackOffsetNs_.store(measureJackOffset(), std::memory_order_relaxed);
    jack_set_process_callback(client_, &processThunk, this);
    jack_on_info_shutdown(client_, &shutdownThunk, this);
    if (jack_activate(client_) != 0) {
        closeClient();
        return "The JACK server refused to run the client";
    }
    return "";
}

void JackMidiPorts::closeClient() {
    if (client_ != nullptr) {
        // Returns once the process thread has stopped for good.
        jack_client_close(client_);
        client_ = nullptr;
    }
    clockPort_.store(nullptr, std::memory_order_relaxed);
    tapPort_.store(nullptr, std::memory_order_relaxed);
    if (const int fd = tapFd_.exchange(-1); fd >= 0) {
        ::close(fd);
    }
    commands_.clear();
    taps_.clear();
    clockRunning_ = false;
    haveFrame_ = false;
    running_ = startPending_ = stopPending_ = false;
    pedalDown_.fill(false);
}

bool JackMidiPorts::openPort(std::atomic<jack_port_t*>& port, const char* name,
                             unsigned long flags) {
    if (port.load(std::memory_order_relaxed) != nullptr) {
        return true;
    }
    const bool tap = &port == &tapPort_;
    if (tap) {
        const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        tapFd_.store(fd, std::memory_order_relaxed);
    }
    jack_port_t* opened = jack_port_register(client_, name, JACK_DEFAULT_MIDI_TYPE, flags, 0);
    if (opened == nullptr) {
        return false;
    }
    // Release: the eventfd and the clock state are in place before the
    // process thread sees the port.
    port.store(opened, std::memory_order_release);
    return true;
}

void JackMidiPorts::closePort(std::atomic<jack_port_t*>& port) {
    jack_port_t* open = port.load(std::memory_order_relaxed);
    if (open == nullptr) {
        return;
    }
    if (&port == &clockPort_ && clockRunning_) {
        // Let the receiver hear Stop before the port goes.
        stopClock();
        awaitCycle();
    }
    port.store(nullptr, std::memory_order_release);
    // The process thread may still hold the pointer in the cycle under way.
    awaitCycle();
    jack_port_unregister(client_, open);
    if (&port == &tapPort_) {
        if (const int fd = tapFd_.exchange(-1); fd >= 0) {
            ::close(fd);
        }
        TapInstant dropped;
        while (taps_.pop(dropped)) {
        }
    }
}

void JackMidiPorts::awaitCycle() const {
    const std::uint64_t seen = cycles_.load(std::memory_order_acquire);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (cycles_.load(std::memory_order_acquire) < seen + 2 &&
           !serverGone_.load(std::memory_order_acquire) &&
           std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void JackMidiPorts::startClock(Fixed tempo, double anchorSeconds) {
    if (client_ == nullptr || clockPort_.load(std::memory_order_relaxed) == nullptr || tempo <= 0 ||
        !std::isfinite(anchorSeconds) || std::fabs(anchorSeconds) > 1e9 ||
        tempo > std::numeric_limits<Fixed>::max() / kPulsesPerBeat ||
        periodFrames(tempo * kPulsesPerBeat, rate_) < 1) {
        return;
    }
    const std::int64_t offset = measureJackOffset();
    jackOffsetNs_.store(offset, std::memory_order_relaxed);
    const long double anchorUsecs =
        (static_cast<long double>(anchorSeconds) * 1e9L + static_cast<long double>(offset)) /
        1000.0L;
    if (commands_.push({ClockCommand::Kind::Start, tempo, anchorUsecs})) {
        clockRunning_ = true;
    }
}

void JackMidiPorts::stopClock() {
    if (client_ == nullptr || !clockRunning_) {
        return;
    }
    if (commands_.push({ClockCommand::Kind::Stop, 0, 0})) {
        clockRunning_ = false;
    }
}

std::vector<TapInstant> JackMidiPorts::takeTaps() {
    std::vector<TapInstant> taken;
    const int fd = tapFd_.load(std::memory_order_relaxed);
    if (fd < 0) {
        return taken;
    }
    // Emptied before the ring is read: a tap that lands in between writes
    // the eventfd again, so no tap waits unannounced.
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(fd, &count, sizeof count);
    TapInstant tap;
    while (taps_.pop(tap)) {
        taken.push_back(tap);
    }
    if (client_ != nullptr && !serverGone_.load(std::memory_order_acquire)) {
        jackOffsetNs_.store(measureJackOffset(), std::memory_order_relaxed);
    }
    return taken;
}

// --- process thread ---------------------------------------------------------

void JackMidiPorts::process(jack_nframes_t frames) {
    jack_nframes_t frame32 = 0;
    jack_time_t usecs = 0;
    jack_time_t nextUsecs = 0;
    float periodUsecs = 0;
    if (jack_get_cycle_times(client_, &frame32, &usecs, &nextUsecs, &periodUsecs) != 0) {
        frame32 = jack_last_frame_time(client_);
        usecs = jack_frames_to_time(client_, frame32);
        nextUsecs = usecs + static_cast<jack_time_t>(1e6 * frames / rate_);
    }
    frame64_ = haveFrame_ ? frame64_ + static_cast<std::uint32_t>(frame32 - lastFrame32_)
                          : static_cast<std::int64_t>(frame32);
    haveFrame_ = true;
    lastFrame32_ = frame32;
    const long double framesPerUsec =
        nextUsecs > usecs ? static_cast<long double>(frames) / (nextUsecs - usecs) : rate_ / 1e6L;

    jack_port_t* clockPort = clockPort_.load(std::memory_order_acquire);
    ClockCommand command;
    while (commands_.pop(command)) {
        if (clockPort != nullptr) {
            applyClock(command, frame64_, static_cast<long double>(usecs), framesPerUsec);
        }
    }
    if (clockPort != nullptr) {
        void* buffer = jack_port_get_buffer(clockPort, frames);
        jack_midi_clear_buffer(buffer);
        sendClock(buffer, frame64_, frames);
    } else {
        running_ = startPending_ = stopPending_ = false;
    }

    if (jack_port_t* tapPort = tapPort_.load(std::memory_order_acquire); tapPort != nullptr) {
        readTaps(jack_port_get_buffer(tapPort, frames), frame32, frame64_);
    }
    cycles_.fetch_add(1, std::memory_order_release);
}

void JackMidiPorts::applyClock(const ClockCommand& command, std::int64_t cycleStart,
                               long double cycleUsecs, long double framesPerUsec) {
    if (command.kind == ClockCommand::Kind::Stop) {
        // Stop goes out only after a Start did; then right at the start of
        // this cycle, after the last pulse, which went in an earlier one.
        stopPending_ = running_ && !startPending_;
        running_ = startPending_ = false;
        return;
    }
    pulseTempo_ = command.tempo * kPulsesPerBeat;
    const long double pulse = periodFrames(pulseTempo_, rate_);
    const long double beat = pulse * kPulsesPerBeat;
    anchorFrame_ = static_cast<long double>(cycleStart) +
                   (command.anchorMicroseconds - cycleUsecs) * framesPerUsec;
    // A grid that begins later: move beat 0 back by whole beats so that the
    // beats before it exist too (pulse numbers stay in step with the beats).
    if (anchorFrame_ > cycleStart) {
        anchorFrame_ -= std::ceil((anchorFrame_ - cycleStart) / beat) * beat;
    }
    stopPending_ = false;
    if (!running_) {
        // The first pulse is a whole beat at least one pulse into this cycle
        // or later: Start goes where the pulse before it would be, so the
        // receiver has a pulse's time to get ready and its first clock is
        // the beat.
        std::int64_t first = firstClickAtOrAfter(anchorFrame_, cycleStart, pulseTempo_, rate_) + 1;
        first = (first + kPulsesPerBeat - 1) / kPulsesPerBeat * kPulsesPerBeat;
        startFrame_ = clickFrame(anchorFrame_, first - 1, pulseTempo_, rate_);
        nextPulse_ = first;
        pulsesSent_ = 0;
        running_ = startPending_ = true;
    } else if (!startPending_) {
        // A new grid while the receiver counts: no second Start, which would
        // send it back to the top of its song. The pulses go on from the
        // first new one after the last sent whose place in its beat matches
        // the receiver's count, so the receiver's beats fall on the new
        // grid's beats; the price is a wait of less than a beat.
        const std::int64_t earliest =
            std::max<std::int64_t>(cycleStart, lastPulseFrame_ + std::llroundl(pulse / 2));
        std::int64_t next = firstClickAtOrAfter(anchorFrame_, earliest, pulseTempo_, rate_);
        const std::int64_t place = pulsesSent_ % kPulsesPerBeat;
        next += ((place - next % kPulsesPerBeat) + kPulsesPerBeat) % kPulsesPerBeat;
        nextPulse_ = next;
    } else {
        // Start not out yet: begin on the new grid instead.
        running_ = false;
        applyClock(command, cycleStart, cycleUsecs, framesPerUsec);
        return;
    }
    nextPulseFrame_ = clickFrame(anchorFrame_, nextPulse_, pulseTempo_, rate_);
}

void JackMidiPorts::sendClock(void* buffer, std::int64_t cycleStart, jack_nframes_t frames) {
    const std::int64_t cycleEnd = cycleStart + frames;
    if (stopPending_) {
        jack_midi_event_write(buffer, 0, &kStop, 1);
        stopPending_ = false;
    }
    if (!running_) {
        return;
    }
    if (startPending_) {
        if (startFrame_ >= cycleEnd) {
            return;
        }
        jack_midi_event_write(buffer, static_cast<jack_nframes_t>(startFrame_ - cycleStart),
                              &kStart, 1);
        startPending_ = false;
    }
    if (nextPulseFrame_ < cycleStart) {
        // Cycles were lost (an xrun, a stalled graph): whole beats that fell
        // in them are left out, the rest go late at the start of this cycle,
        // so the receiver's count of pulses stays in step with the beats.
        const std::int64_t due = firstClickAtOrAfter(anchorFrame_, cycleStart, pulseTempo_, rate_);
        nextPulse_ += (due - nextPulse_) / kPulsesPerBeat * kPulsesPerBeat;
        nextPulseFrame_ = clickFrame(anchorFrame_, nextPulse_, pulseTempo_, rate_);
    }
    while (nextPulseFrame_ < cycleEnd) {
        const std::int64_t at = std::max(nextPulseFrame_, cycleStart);
        jack_midi_event_write(buffer, static_cast<jack_nframes_t>(at - cycleStart), &kClock, 1);
        lastPulseFrame_ = at;
        ++pulsesSent_;
        ++nextPulse_;
        nextPulseFrame_ = clickFrame(anchorFrame_, nextPulse_, pulseTempo_, rate_);
    }
}

void JackMidiPorts::readTaps(void* buffer, jack_nframes_t cycleStart32, std::int64_t cycleStart) {
    const int note = tapNote_.load(std::memory_order_relaxed);
    const int controller = tapController_.load(std::memory_order_relaxed);
    const std::int64_t offset = jackOffsetNs_.load(std::memory_order_relaxed);
    bool tapped = false;
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size < 3) {
            continue;
        }
        const int kind = event.buffer[0] & 0xF0;
        const int channel = event.buffer[0] & 0x0F;
        bool tap = false;
        if (kind == 0x90) {
            tap = event.buffer[2] > 0 && (note < 0 || event.buffer[1] == note);
        } else if (kind == 0xB0 && event.buffer[1] == controller) {
            const bool down = event.buffer[2] >= 64;
            tap = down && !pedalDown_[channel];
            pedalDown_[channel] = down;
        }
        if (!tap) {
            continue;
        }
        // The first tap of a run is placed by JACK's estimate of the cycle
        // times; the run's later taps count frames on from it, so the
        // intervals are exact to the frame however that estimate wanders
        // on a busy machine. A pause that ends a measurement starts afresh.
        const std::int64_t frame = cycleStart + event.time;
        const auto pause = static_cast<std::int64_t>(kRunPauseSeconds * rate_);
        if (!haveTapReference_ || frame < lastTapFrame_ || frame - lastTapFrame_ > pause) {
            const auto usecs =
                static_cast<std::int64_t>(jack_frames_to_time(client_, cycleStart32 + event.time));
            tapReferenceNs_ = usecs * 1000 - offset;
            tapReferenceFrame_ = frame;
            haveTapReference_ = true;
        }
        lastTapFrame_ = frame;
        const std::int64_t steadyNs =
            tapReferenceNs_ + static_cast<std::int64_t>(std::llround(
                                  static_cast<long double>(frame - tapReferenceFrame_) * 1e9L /
                                  static_cast<long double>(rate_)));
        tapped |=
            taps_.push(TapInstant{.count = steadyNs / 100,
                                  .frequency = 10'000'000,
                                  .tickMs = static_cast<std::uint64_t>(steadyNs / 1'000'000)});
    }
    if (tapped) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored =
            ::write(tapFd_.load(std::memory_order_relaxed), &one, sizeof one);
    }
}

}  // namespace

std::unique_ptr<MidiPorts> makeJackMidiPorts() {
    return std::make_unique<JackMidiPorts>();
}

}  // namespace pulsaro

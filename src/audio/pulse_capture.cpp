// Capture through the Pulse protocol, with libpulse's threaded main loop.
// PulseAudio and pipewire-pulse both speak it.
//
// The main loop's thread runs every callback below with the loop's lock
// held. The read callback only copies into the ring and publishes the time
// mapping; the state callbacks only store atomics. Everything that allocates
// or waits happens in start(), stop() and listCaptureInputs().

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/audio_capture.h"
#include "audio/sample_ring.h"

namespace pulsaro {
namespace {

constexpr pa_usec_t kAnswerTimeoutUsec = 5'000'000;
// The server hands samples over in pieces of about this length.
constexpr double kFragmentSeconds = 0.025;
// What the ring holds when the reader falls behind.
constexpr double kRingSeconds = 4;
constexpr const char* kListClientName = "Pulsaro";

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string withCause(const char* what, int error) {
    return std::string(what) + ": " + pa_strerror(error);
}

std::string quoted(const std::string& name) {
    return "\"" + name + "\"";
}

// One connection to the server: a threaded main loop and a ready context.
// The loop's lock is held whenever the loop or the context is touched after
// the constructor.
class Connection {
public:
    // Connects and waits (bounded) until the context is ready; throws
    // CaptureError with the cause.
    explicit Connection(const std::string& clientName) {
        loop_ = pa_threaded_mainloop_new();
        if (loop_ == nullptr) {
            throw CaptureError("cannot reach the sound server: out of memory");
        }
        pa_threaded_mainloop_set_name(loop_, "pulse-capture");
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, clientName.c_str());
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_),
                                                clientName.c_str(), props);
        pa_proplist_free(props);
        if (context_ == nullptr) {
            pa_threaded_mainloop_free(loop_);
            throw CaptureError("cannot reach the sound server: out of memory");
        }
        pa_context_set_state_callback(context_, &Connection::onContextState, this);

        // Without autospawn: a desktop starts its server itself, and a
        // missing one is reported at once rather than started behind the
        // user's back.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            const int error = pa_context_errno(context_);
            close();
            throw CaptureError(withCause("cannot reach the sound server", error));
        }
        if (pa_threaded_mainloop_start(loop_) < 0) {
            close();
            throw CaptureError("cannot reach the sound server: no thread to listen with");
        }
        lock();
        const bool answered = waitFor([this] {
            const pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        const bool ready = pa_context_get_state(context_) == PA_CONTEXT_READY;
        const int error = answered ? pa_context_errno(context_) : PA_ERR_TIMEOUT;
        unlock();
        if (!ready) {
            close();
            throw CaptureError(withCause("cannot reach the sound server", error));
        }
    }

    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    pa_context* context() const { return context_; }
    void lock() { pa_threaded_mainloop_lock(loop_); }
    void unlock() { pa_threaded_mainloop_unlock(loop_); }
    // From a callback: wakes waitFor().
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

    // With the lock held: `callback` runs on the loop's thread when the
    // context fails or ends.
    void onDown(void (*callback)(void*), void* userdata) {
        downCallback_ = callback;
        downUserdata_ = userdata;
    }

    // With the lock held: waits until done() holds or the server has not
    // answered for too long; false in that case.
    template <typename Done>
    bool waitFor(Done done) {
        Timer timer{this, false};
        pa_time_event* event = pa_context_rttime_new(
            context_, pa_rtclock_now() + kAnswerTimeoutUsec, &Connection::onTimeout, &timer);
        while (!done() && !timer.late) {
            pa_threaded_mainloop_wait(loop_);
        }
        if (event != nullptr) {
            pa_threaded_mainloop_get_api(loop_)->time_free(event);
        }
        return done();
    }

    // With the lock held: waits for an operation to end; false when it did
    // not in time (it is cancelled then).
    bool waitFor(pa_operation* operation) {
        if (operation == nullptr) {
            return false;
        }
        const bool finished =
            waitFor([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        if (!finished) {
            pa_operation_cancel(operation);
        }
        pa_operation_unref(operation);
        return finished;
    }

private:
    struct Timer {
        Connection* connection;
        bool late;
    };

    static void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
        auto* timer = static_cast<Timer*>(data);
        timer->late = true;
        timer->connection->signal();
    }

    static void onContextState(pa_context* context, void* self) {
        auto* connection = static_cast<Connection*>(self);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) &&
            connection->downCallback_ != nullptr) {
            connection->downCallback_(connection->downUserdata_);
        }
        connection->signal();
    }

    void close() {
        if (loop_ == nullptr) {
            return;
        }
        lock();
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        unlock();
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
        context_ = nullptr;
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    void (*downCallback_)(void*) = nullptr;
    void* downUserdata_ = nullptr;
};

// Where frame numbers meet the steady clock: the frame `frame` was heard at
// `seconds`. The loop's thread publishes, the reader reads, neither waits: a
// sequence lock whose fields are atomics, so that a torn read is seen and
// repeated rather than being undefined.
struct Anchor {
    std::int64_t frame = 0;
    double seconds = 0;
};

class AnchorBox {
public:
    // One writer at a time.
    void publish(const Anchor& anchor) {
        const std::uint32_t sequence = sequence_.load(std::memory_order_relaxed);
        sequence_.store(sequence + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        frame_.store(anchor.frame, std::memory_order_relaxed);
        seconds_.store(anchor.seconds, std::memory_order_relaxed);
        sequence_.store(sequence + 2, std::memory_order_release);
    }

    Anchor load() const {
        for (;;) {
            const std::uint32_t before = sequence_.load(std::memory_order_acquire);
            const Anchor anchor{frame_.load(std::memory_order_relaxed),
                                seconds_.load(std::memory_order_relaxed)};
            std::atomic_thread_fence(std::memory_order_acquire);
            if ((before & 1) == 0 && sequence_.load(std::memory_order_relaxed) == before) {
                return anchor;
            }
        }
    }

private:
    std::atomic<std::uint32_t> sequence_{0};
    std::atomic<std::int64_t> frame_{0};
    std::atomic<double> seconds_{0};
};

// Each timing report of the stream tells when its frame 0 was heard. A
// report can come out late (a server busy with other clients measures a
// little after the moment it stamps), hardly ever early. So the earliest
// report of the last few seconds stands; they are kept per second so that
// old ones leave and the slow drift between the sound card's clock and ours
// is followed.
class EarliestStart {
public:
    // A report taken at `now`; gives the start that stands.
    double add(double now, double start) {
        if (valid_ && start > best(now) + kJumpSeconds) {
            // Far later than the reports before: frames were lost (the
            // server's buffer ran over, the input was suspended), so the
            // old reports no longer hold.
            reset();
        }
        if (!valid_ || now - slots_[current_].since >= kSlotSeconds) {
            if (!valid_) {
                slots_.fill({-std::numeric_limits<double>::infinity(), 0});
                valid_ = true;
            }
            current_ = (current_ + 1) % slots_.size();
            slots_[current_] = {now, start};
        } else {
            slots_[current_].earliest = std::min(slots_[current_].earliest, start);
        }
        return best(now);
    }

    void reset() { valid_ = false; }

private:
    static constexpr double kSlotSeconds = 1;
    static constexpr double kJumpSeconds = 0.05;

    struct Slot {
        double since;
        double earliest;
    };

    double best(double now) const {
        double earliest = std::numeric_limits<double>::infinity();
        for (const Slot& slot : slots_) {
            if (now - slot.since < kSlotSeconds * static_cast<double>(slots_.size())) {
                earliest = std::min(earliest, slot.earliest);
            }
        }
        return earliest;
    }

    std::array<Slot, 4> slots_{};
    std::size_t current_ = 0;
    bool valid_ = false;
};

enum class Failure : int { None, ServerGone, InputGone };

class PulseCapture final : public AudioCapture {
public:
    PulseCapture(double sampleRate, std::string clientName)
        : rate_(static_cast<std::uint32_t>(std::clamp(sampleRate, 1000.0, 384000.0) + 0.5)),
          clientName_(std::move(clientName)),
          ring_(static_cast<std::size_t>(rate_ * kRingSeconds)) {}

    ~PulseCapture() override { disconnect(); }

    void start(const std::string& input) override {
        stop();
        connection_ = std::make_unique<Connection>(clientName_);
        connection_->lock();
        try {
            openStream(input);
        } catch (...) {
            connection_->unlock();
            disconnect();
            throw;
        }
        connection_->unlock();
    }

    void stop() override {
        disconnect();
        state_.store(CaptureState::Stopped, std::memory_order_release);
        failure_.store(Failure::None, std::memory_order_release);
    }

    CaptureState state() const override { return state_.load(std::memory_order_acquire); }

    std::string failure() const override {
        if (state() != CaptureState::Failed) {
            return {};
        }
        switch (failure_.load(std::memory_order_acquire)) {
            case Failure::ServerGone:
                return "the sound server went away";
            case Failure::InputGone:
                return "the input " + quoted(inputName_) + " is gone";
            case Failure::None:
                break;
        }
        return {};
    }

    double sampleRate() const override { return rate_; }

    std::size_t read(std::span<float> out) override {
        const std::uint64_t generation = generation_.load(std::memory_order_acquire);
        if (generation != readerGeneration_) {
            ring_.skipTo(sessionStart_.load(std::memory_order_relaxed));
            readerGeneration_ = generation;
        }
        return ring_.read(out);
    }

    double heardAt(std::int64_t frame) const override {
        const Anchor anchor = anchor_.load();
        return anchor.seconds + static_cast<double>(frame - anchor.frame) / rate_;
    }

    std::uint64_t droppedFrames() const override {
        return ring_.dropped() - droppedAtStart_.load(std::memory_order_relaxed);
    }

private:
    // With the loop's lock held.
    void openStream(const std::string& input) {
        pa_context* context = connection_->context();
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, rate_, 1};
        pa_channel_map map;
        pa_channel_map_init_mono(&map);
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Listening for the tempo");
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, clientName_.c_str());
        stream_ =
            pa_stream_new_with_proplist(context, "Listening for the tempo", &format, &map, props);
        pa_proplist_free(props);
        if (stream_ == nullptr) {
            throw CaptureError(
                withCause("cannot listen to the sound server", pa_context_errno(context)));
        }
        pa_stream_set_state_callback(stream_, &PulseCapture::onStreamState, this);
        pa_stream_set_read_callback(stream_, &PulseCapture::onRead, this);
        pa_stream_set_overflow_callback(stream_, &PulseCapture::onGap, this);
        pa_stream_set_suspended_callback(stream_, &PulseCapture::onGap, this);
        pa_stream_set_moved_callback(stream_, &PulseCapture::onGap, this);
        connection_->onDown(&PulseCapture::onServerDown, this);

        // Nothing comes in before the stream is ready, so the reader and
        // this session's producer cannot both be at the ring yet.
        sessionStart_.store(ring_.written(), std::memory_order_relaxed);
        droppedAtStart_.store(ring_.dropped(), std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_release);
        framesWritten_ = 0;
        starts_.reset();
        timingKnown_ = false;
        anchor_.publish({0, steadySeconds()});

        pa_buffer_attr attr;
        attr.maxlength = std::numeric_limits<std::uint32_t>::max();
        attr.tlength = attr.prebuf = attr.minreq = std::numeric_limits<std::uint32_t>::max();
        attr.fragsize = static_cast<std::uint32_t>(rate_ * kFragmentSeconds) * sizeof(float);
        // A named input is that device or none: when it goes, the stream
        // ends rather than moving to another one. The default's monitor
        // follows what the server does.
        auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY |
                                           (input.empty() ? 0 : PA_STREAM_DONT_MOVE));
        const char* device = input.empty() ? "@DEFAULT_MONITOR@" : input.c_str();
        inputName_ = input.empty() ? std::string("the default output's monitor") : input;
        if (pa_stream_connect_record(stream_, device, &attr, flags) < 0) {
            throw CaptureError(withCause(("cannot listen to " + quoted(inputName_)).c_str(),
                                         pa_context_errno(context)));
        }
        const bool answered = connection_->waitFor(
            [this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; });
        if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
            if (const char* name = pa_stream_get_device_name(stream_)) {
                inputName_ = name;
            }
            state_.store(CaptureState::Running, std::memory_order_release);
            return;
        }
        if (pa_context_get_state(context) != PA_CONTEXT_READY) {
            throw CaptureError("the sound server went away");
        }
        const int error = answered ? pa_context_errno(context) : PA_ERR_TIMEOUT;
        if (error == PA_ERR_NOENTITY) {
            throw CaptureError("the input " + quoted(inputName_) + " does not exist");
        }
        throw CaptureError(withCause(("cannot listen to " + quoted(inputName_)).c_str(), error));
    }

    void disconnect() {
        if (!connection_) {
            return;
        }
        connection_->lock();
        connection_->onDown(nullptr, nullptr);
        if (stream_ != nullptr) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_set_overflow_callback(stream_, nullptr, nullptr);
            pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
            pa_stream_set_moved_callback(stream_, nullptr, nullptr);
            if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
                pa_stream_disconnect(stream_);
            }
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        connection_->unlock();
        connection_.reset();
        // The loop's thread has ended: what it wrote and was not read goes.
        sessionStart_.store(ring_.written(), std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_release);
    }

    // The callbacks below run on the loop's thread.

    void fail(Failure why) {
        if (state_.load(std::memory_order_relaxed) != CaptureState::Running) {
            return;
        }
        failure_.store(why, std::memory_order_relaxed);
        state_.store(CaptureState::Failed, std::memory_order_release);
    }

    static void onServerDown(void* self) {
        static_cast<PulseCapture*>(self)->fail(Failure::ServerGone);
    }

    static void onStreamState(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseCapture*>(data);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            const bool serverUp =
                pa_context_get_state(pa_stream_get_context(stream)) == PA_CONTEXT_READY;
            self->fail(serverUp ? Failure::InputGone : Failure::ServerGone);
        }
        self->connection_->signal();
    }

    // The stream lost frames or changed its latency: earlier readings of
    // it no longer hold.
    static void onGap(pa_stream*, void* self) { static_cast<PulseCapture*>(self)->starts_.reset(); }

    static void onRead(pa_stream* stream, std::size_t, void* self) {
        static_cast<PulseCapture*>(self)->takeSamples(stream);
    }

    void takeSamples(pa_stream* stream) {
        bool timed = false;
        for (;;) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
                return;
            }
            if (!timed) {
                noteTiming(stream);
                timed = true;
            }
            const std::size_t frames = bytes / sizeof(float);
            // A hole (data lost on the server's side) comes as its length
            // without data, and is silence here.
            const std::size_t taken = data == nullptr
                                          ? ring_.writeZeros(frames)
                                          : ring_.write({static_cast<const float*>(data), frames});
            if (taken < frames) {
                // The frames after the dropped ones are numbered as if they
                // followed on, so their readings start a new window.
                starts_.reset();
            }
            framesWritten_ += static_cast<std::int64_t>(taken);
            pa_stream_drop(stream);
        }
    }

    // Before the first piece waiting is dropped, so that the stream's read
    // index is that piece's first frame.
    //
    // The server reports the stream's timing now and then (libpulse asks
    // every second and a half once the stream runs): where its queue stood
    // at a moment it stamps, and how long the input's buffer and, for a
    // monitor, its output's buffer were then. That gives the frame
    // being heard at that moment, and from it the moment any frame is
    // heard. libpulse's own interpolation of the report (its latency and
    // time calls) is not used: it fits a rate to the reports, and with
    // pipewire-pulse that rate comes out a few percent off between reports.
    void noteTiming(pa_stream* stream) {
        const double now = steadySeconds();
        const pa_timing_info* timing = pa_stream_get_timing_info(stream);
        if (timing == nullptr || timing->read_index_corrupt || timing->write_index_corrupt) {
            if (!timingKnown_) {
                anchor_.publish({framesWritten_, now});
            }
            return;
        }
        const double bytesPerSecond = static_cast<double>(rate_) * sizeof(float);
        const double reportedAt =
            now - static_cast<double>(pa_timeval_age(&timing->timestamp)) / 1e6;
        const double heardThen =
            static_cast<double>(timing->write_index) / bytesPerSecond +
            (static_cast<double>(timing->source_usec) - static_cast<double>(timing->sink_usec)) /
                1e6;
        const double heard =
            reportedAt + static_cast<double>(timing->read_index) / bytesPerSecond - heardThen;
        const double sinceStart = static_cast<double>(framesWritten_) / rate_;
        const double start = starts_.add(now, heard - sinceStart);
        anchor_.publish({framesWritten_, start + sinceStart});
        timingKnown_ = true;
    }

    const std::uint32_t rate_;
    const std::string clientName_;
    SampleRing ring_;
    std::unique_ptr<Connection> connection_;
    pa_stream* stream_ = nullptr;
    // Read in failure(); written in start() before the loop's thread can
    // fail the capture.
    std::string inputName_;

    std::atomic<CaptureState> state_{CaptureState::Stopped};
    std::atomic<Failure> failure_{Failure::None};
    AnchorBox anchor_;

    // The loop's thread only (and start() before the stream runs).
    std::int64_t framesWritten_ = 0;
    EarliestStart starts_;
    bool timingKnown_ = false;

    // Each start() and stop() opens a new generation; the reader then skips
    // to where it began.
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::uint64_t> sessionStart_{0};
    std::atomic<std::uint64_t> droppedAtStart_{0};
    std::uint64_t readerGeneration_ = 0;
};

struct InputList {
    std::vector<CaptureInput> inputs;
    Connection* connection = nullptr;
    bool failed = false;
};

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* list = static_cast<InputList*>(data);
    if (eol != 0 || info == nullptr) {
        list->failed = eol < 0;
        list->connection->signal();
        return;
    }
    list->inputs.push_back({info->name != nullptr ? info->name : "",
                            info->description != nullptr ? info->description : "",
                            info->monitor_of_sink != PA_INVALID_INDEX});
}

}  // namespace

std::vector<CaptureInput> listCaptureInputs() {
    Connection connection(kListClientName);
    InputList list;
    list.connection = &connection;
    connection.lock();
    const bool listed = connection.waitFor(
        pa_context_get_source_info_list(connection.context(), &onSourceInfo, &list));
    const int error = pa_context_errno(connection.context());
    connection.unlock();
    if (!listed || list.failed) {
        throw CaptureError(withCause("cannot list the sound server's inputs",
                                     error != PA_OK ? error : PA_ERR_TIMEOUT));
    }
    return list.inputs;
}

std::unique_ptr<AudioCapture> makePulseCapture(double sampleRate, const std::string& clientName) {
    return std::make_unique<PulseCapture>(sampleRate, clientName);
}

}  // namespace pulsaro

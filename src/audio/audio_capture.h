#pragma once

// Sound coming in from the sound server: what this computer plays (the
// monitor of the default output) or an input such as a microphone or a line
// in, as mono float samples for the tempo analysis.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pulsaro {

// A capture that could not start or stopped, with its cause, e.g. "cannot
// reach the sound server: Connection refused".
class CaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An input the sound server offers.
struct CaptureInput {
    std::string name;         // the server's name for it, kept in the settings
    std::string description;  // what the user reads
    bool monitor = false;     // the monitor of an output
};

enum class CaptureState {
    Stopped,  // never started, or stopped by the reader
    Running,
    Failed,  // the server went away or the input is gone: see failure()
};

// One capture stream. The server's thread writes the samples into a
// lock-free ring; one reader thread takes them out with read(). start(),
// stop() and the destructor belong to one thread (the GUI's).
class AudioCapture {
public:
    virtual ~AudioCapture() = default;

    // Starts listening to the input named (empty: the monitor of the default
    // output). Throws CaptureError with the cause when the server or the
    // input cannot be reached. A capture that failed or stopped starts again.
    virtual void start(const std::string& input) = 0;
    // Stops listening and drops what was not read. Harmless when stopped.
    virtual void stop() = 0;

    // Any thread.
    virtual CaptureState state() const = 0;
    // Why the capture failed (empty unless state() is Failed). Read it after
    // seeing Failed.
    virtual std::string failure() const = 0;
    // Samples per second of what read() gives.
    virtual double sampleRate() const = 0;

    // The reader: moves up to out.size() samples into out and returns how
    // many. Frames are numbered from 0 at start(); read() gives them in order.
    virtual std::size_t read(std::span<float> out) = 0;
    // The reader: seconds on std::chrono::steady_clock at which the frame
    // numbered `frame` reached the speakers, from the stream's own latency.
    // Any frame number is taken, read or not; the answer for all of them
    // follows the latest timing the server reported. A monitor hands frames
    // over as its output plays them or a little before, so a frame just
    // read may be heard a few milliseconds from now. Before the server has
    // reported, frame 0 is taken as heard when start() returned.
    virtual double heardAt(std::int64_t frame) const = 0;
    // The reader: frames dropped because the ring was full, since start().
    virtual std::uint64_t droppedFrames() const = 0;
};

// The inputs the sound server offers now, monitors included. Throws
// CaptureError when the server cannot be reached.
std::vector<CaptureInput> listCaptureInputs();

// A capture through the Pulse protocol (PulseAudio, or PipeWire through
// pipewire-pulse) at `sampleRate`, the server resampling; `clientName` is
// what the server's mixers show.
std::unique_ptr<AudioCapture> makePulseCapture(double sampleRate, const std::string& clientName);

}  // namespace pulsaro

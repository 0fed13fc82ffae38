#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/fixed_point.h"

namespace pulsaro {

// MIDI towards the studio through a JACK server (or PipeWire's JACK
// library): a clock output that follows the metronome's grid and a tap
// input for a pedal, a pad or a controller. Nothing is opened until
// configure() asks for a port; with both off there is no client, no thread
// and no port. Every call is made on the GUI thread.
class MidiPorts {
public:
    struct Options {
        // "clock_out": 24 pulses per beat, Start and Stop.
        bool clockOut = false;
        // "tap_in": a note-on or a controller change to 64 or more taps.
        bool tapIn = false;
        // The note that taps, 0 to 127, or -1 for any note.
        int tapNote = -1;
        // The controller that taps, 0 to 127 (64: the sustain pedal), or -1
        // for none.
        int tapController = 64;
    };

    virtual ~MidiPorts() = default;

    // Opens the client and the ports the options ask for and closes the
    // others. Returns an empty text when everything asked for is open, else
    // why not, in words for the settings dialog (e.g. no JACK server runs);
    // then nothing stays open. Never starts a server and prints nothing.
    virtual std::string configure(const Options& options) = 0;

    // The metronome's grid: beat n at anchorSeconds + n x 60 / tempo on the
    // tap clock (seconds of std::chrono::steady_clock). The pulses begin on
    // the first whole beat that can still be sent, with Start one pulse
    // before it, so the receiver's first clock is that beat; each pulse's
    // frame comes from its number alone (no drift). They go on until
    // stopClock(), then Stop. A new call while the clock runs replaces the
    // grid without a second Start (which would send the receiver back to the
    // top of its song): the pulses resume on the new grid where its place in
    // the beat matches the receiver's count, after a wait of less than a
    // beat at most. Does nothing while clock_out is closed.
    virtual void startClock(Fixed tempo, double anchorSeconds) = 0;
    virtual void stopClock() = 0;

    // The taps received since the last call, in order, each timed by its
    // event's frame and mapped onto the tap clock (a TapInstant as
    // instantOf(SteadyClock) gives).
    virtual std::vector<TapInstant> takeTaps() = 0;
    // A file descriptor that becomes readable while taps wait (the GUI
    // watches it), or -1 while tap_in is closed. Reading is takeTaps()'s job.
    virtual int tapNotifier() const = 0;
};

// The JACK implementation.
std::unique_ptr<MidiPorts> makeJackMidiPorts();

}  // namespace pulsaro

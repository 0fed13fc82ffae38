#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/fixed_point.h"
#include "core/tap_model.h"
#include "core/wav.h"

namespace pulsaro {

// Sound output as the window sees it: the device check and the metronome.
// The real one talks to PortAudio; tests use an offline one so no sound card
// is needed. Every call is made on the GUI thread and never blocks on the
// device; a device that fails or disappears leaves the program running
// silently.
class AudioOutput {
public:
    static constexpr int kNoSound = -1;

    virtual ~AudioOutput() = default;

    // Number of devices that can play sound; 0 when there is none. Looks
    // again each time it is asked, so a sound server that came up since is
    // found.
    virtual int outputDeviceCount() = 0;

    // The three click sounds, decoded; converted to the output's format once
    // and kept for the whole run, each with its attack (attackFrame) measured,
    // which the metronome puts on the beat. Called once, before anything is
    // played.
    virtual void loadSounds(const std::array<PcmSound, 3>& sounds) = 0;
    // The sound of every later click, 0 to 2, or kNoSound for silent clicks.
    virtual void selectSound(int index) = 0;

    // Clicks with the selected sound every 60 / tempo seconds, exactly (no
    // rounding of the period to milliseconds), replacing any clicking. The
    // first click's attack sounds at once or, with a grid, on the first beat
    // of grid + n x period that can still be heard; a lead-in that no longer
    // fits ahead of it is left out. Returns a fresh non-zero id, or 0 when
    // refused (a tempo <= 0, or a period outside 1 ms to 1 000 000 ms).
    virtual std::uint32_t startClicks(Fixed tempo, std::optional<BeatGrid> grid) = 0;
    // Stops the clicking started under id; an id that no longer clicks (or 0)
    // does nothing. A click already sounding plays to its end.
    virtual void stopClicks(std::uint32_t id) = 0;
    // Plays sound index once, cutting whatever sounds; kNoSound only stops.
    virtual void playOnce(int index) = 0;
    // Stops every sound at once and the clicking with it.
    virtual void purge() = 0;

    // When the first click of the running metronome heard after the moment
    // after (tap-clock seconds) will be heard; nothing when none clicks or
    // it is not known yet.
    virtual std::optional<double> nextClickHeardAt(double after) const = 0;
    // True once the output was lost while sound was wanted (the sound server
    // went away, the device was unplugged): what was playing has stopped.
    // Cleared by the next command that wants sound, which looks for the
    // output again.
    virtual bool outputLost() const = 0;
};

// Sets what the sound libraries read from the environment, where the user
// has not: a JACK client never starts a server of its own, and PulseAudio
// keeps a buffer long enough for a loaded machine. Call before any thread
// runs.
void prepareSoundEnvironment();

// PortAudio is initialised on first use, not at construction, so creating the
// object costs nothing before the window is on screen.
std::unique_ptr<AudioOutput> makePortAudioOutput();

}  // namespace pulsaro

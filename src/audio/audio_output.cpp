#include "audio/audio_output.h"

#include <cstdlib>

#include "audio/portaudio_output.h"

namespace pulsaro {

namespace {

void setUnlessSet(const char* name, const char* value) {
#if defined(_WIN32)
    if (std::getenv(name) == nullptr) {
        _putenv_s(name, value);
    }
#else
    ::setenv(name, value, 0);
#endif
}

}  // namespace

void prepareSoundEnvironment() {
    // A JACK server started by us would take the sound card away from the
    // user's own sound setup.
    setUnlessSet("JACK_NO_START_SERVER", "1");
    // PulseAudio's client thread feeds the server at normal priority; on a
    // loaded machine a short server buffer runs dry and every later click
    // comes late by the gap. Clicks are placed ahead with the latency allowed
    // for, so a long buffer costs them nothing (measured with two busy cores:
    // 150 ms still slips, 250 ms does not).
    setUnlessSet("PULSE_LATENCY_MSEC", "250");
}

std::unique_ptr<AudioOutput> makePortAudioOutput() {
    return std::make_unique<PortAudioOutput>();
}

}  // namespace pulsaro

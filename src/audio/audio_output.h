#pragma once

#include <memory>

namespace pulsaro {

// Sound output as the window sees it. The real one talks to PortAudio; tests
// use an offline one so no sound card is needed.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    // Number of devices that can play sound; 0 when there is none.
    virtual int outputDeviceCount() = 0;
};

// PortAudio is initialised on first use, not at construction, so creating the
// object costs nothing before the window is on screen.
std::unique_ptr<AudioOutput> makePortAudioOutput();

}  // namespace pulsaro

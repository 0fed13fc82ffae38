#include "audio/audio_output.h"

#include <portaudio.h>

#include <cstdlib>

namespace pulsaro {

namespace {

class PortAudioOutput final : public AudioOutput {
public:
    PortAudioOutput() = default;
    PortAudioOutput(const PortAudioOutput&) = delete;
    PortAudioOutput& operator=(const PortAudioOutput&) = delete;

    ~PortAudioOutput() override {
        if (initialised_) {
            Pa_Terminate();
        }
    }

    int outputDeviceCount() override {
        if (!ensureInitialised()) {
            return 0;
        }
        const PaDeviceIndex count = Pa_GetDeviceCount();
        int outputs = 0;
        for (PaDeviceIndex i = 0; i < count; ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (info != nullptr && info->maxOutputChannels > 0) {
                ++outputs;
            }
        }
        return outputs;
    }

private:
    bool ensureInitialised() {
        if (!initialised_) {
            // A JACK client would otherwise try to start a server of its own.
            setenv("JACK_NO_START_SERVER", "1", 0);
            initialised_ = Pa_Initialize() == paNoError;
        }
        return initialised_;
    }

    bool initialised_ = false;
};

}  // namespace

std::unique_ptr<AudioOutput> makePortAudioOutput() {
    return std::make_unique<PortAudioOutput>();
}

}  // namespace pulsaro

#include "audio/audio_output.h"

#include <portaudio.h>

#include <cstdio>

#include "audio/backend_logging.h"

namespace pulsaro {

namespace {

class PortAudioOutput final : public AudioOutput {
public:
    PortAudioOutput() = default;
    PortAudioOutput(const PortAudioOutput&) = delete;
    PortAudioOutput& operator=(const PortAudioOutput&) = delete;

    ~PortAudioOutput() override { release(); }

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
        if (outputs == 0) {
            // PortAudio lists devices only when it starts, so with none there
            // is nothing to keep: the next count starts it afresh and sees a
            // device plugged in meanwhile, and exit has nothing to shut down.
            release();
            tellOnce("no sound output device");
        }
        return outputs;
    }

private:
    bool ensureInitialised() {
        if (!initialised_) {
            silenceBackendLogging();
            const PaError error = Pa_Initialize();
            initialised_ = error == paNoError;
            if (!initialised_) {
                tellOnce(Pa_GetErrorText(error));
            }
        }
        return initialised_;
    }

    void release() {
        if (initialised_) {
            Pa_Terminate();
            initialised_ = false;
        }
    }

    // The libraries' own messages are silenced, so this one line is all a
    // user starting the program from a terminal sees about missing sound.
    void tellOnce(const char* reason) {
        if (!told_) {
            std::fprintf(stderr, "pulsaro: %s; the metronome is off\n", reason);
            told_ = true;
        }
    }

    bool initialised_ = false;
    bool told_ = false;
};

}  // namespace

std::unique_ptr<AudioOutput> makePortAudioOutput() {
    return std::make_unique<PortAudioOutput>();
}

}  // namespace pulsaro

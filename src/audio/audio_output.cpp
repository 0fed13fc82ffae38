#include "audio/audio_output.h"

#include "audio/portaudio_output.h"

namespace pulsaro {

std::unique_ptr<AudioOutput> makePortAudioOutput() {
    return std::make_unique<PortAudioOutput>();
}

}  // namespace pulsaro

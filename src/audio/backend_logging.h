#pragma once

namespace pulsaro {

// Stops ALSA and JACK from writing their own diagnostics to stderr. Without a
// sound card PortAudio's device scan makes them print dozens of lines that
// mean nothing to a user. Call before Pa_Initialize; safe to call repeatedly.
void silenceBackendLogging();

}  // namespace pulsaro

#pragma once

namespace pulsaro {

// Stops ALSA and JACK from writing their own diagnostics to stderr. Without a
// sound card PortAudio's device scan makes them print dozens of lines that
// mean nothing to a user. Call before Pa_Initialize; safe to call repeatedly.
void silenceBackendLogging();

// While one lives, whatever is written to the standard error stream goes
// nowhere. Some sound libraries (PulseAudio's client, JACK's metadata store)
// write there directly, past any handler. Made around the calls that load
// and probe the sound libraries, on one thread; nested ones are harmless. The
// program's own lines are written outside them.
class QuietStandardError {
public:
    QuietStandardError();
    ~QuietStandardError();
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;
};

}  // namespace pulsaro

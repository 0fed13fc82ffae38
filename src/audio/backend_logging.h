#pragma once

#include <string_view>

namespace pulsaro {

// Stops ALSA and JACK from writing their own diagnostics to stderr. Without a
// sound card PortAudio's device scan makes them print dozens of lines that
// mean nothing to a user. Call before Pa_Initialize; safe to call repeatedly.
void silenceBackendLogging();

// From here on, the lines the sound libraries print through the C library's
// stderr stream are dropped and every other line goes on to the terminal. A
// stream whose device goes away makes PortAudio print "Expression ... failed"
// lines from its own thread, at a moment nobody can foresee. Only the stream
// is replaced, not the file descriptor, so programs started from here keep
// the terminal as it is. Call once, before the sound libraries start; does
// nothing where the C library cannot do it.
void filterLibraryLines();

// Whether a line is one of the sound libraries' own.
bool isLibraryLine(std::string_view line);

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

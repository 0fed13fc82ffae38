#!/usr/bin/env bash
# Timing benchmark of the JACK MIDI clock: the frame of each pulse on
# clock_out against the exact grid (60 * rate / (24 * BPM) frames apart from
# the anchor that startClock was given), at 120 and 127.3 BPM, on an idle
# machine and with both cores busy (stress-ng --cpu 2). Each run is
# bench/midi_clock/probe.cpp under a private jackd (dummy driver, 48 kHz,
# 256-frame periods, real-time scheduling where allowed, the default
# asynchronous mode, so a late client loses its cycle as with a sound card).
#
# Usage: bench/midi_clock_bench.sh [BUILD_DIR (build/release)] [SECONDS (20)]
# Builds the midi_clock_probe target in BUILD_DIR. Needs jackd2, and
# stress-ng for the busy runs (skipped without it). The server and the load
# are private to this run and ended by their pids.
#
# Per line: pulses received, missed (grid points between the first and last
# pulse that got none), doubled (two on one grid point), and |error| in
# frames, max and mean. An error of up to 0.5 frame is the rounding to whole
# frames; the rest is the anchor's mapping from the tap clock onto frames
# (JACK's time estimate) or a late pulse.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
seconds=${2:-20}
command -v jackd > /dev/null || { echo "jackd (jackd2) is not installed"; exit 1; }
cmake --build "$build" -j1 --target midi_clock_probe > /dev/null
probe=$build/midi_clock_probe
[ -x "$probe" ] || probe=$(find "$build" -name midi_clock_probe -type f -perm -u+x | head -1)

log=$(mktemp)
jackd_pid= stress_pid=
cleanup() {
    for pid in $stress_pid $jackd_pid; do
        kill "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
    done
    rm -f "$log"
}
trap cleanup EXIT
export JACK_DEFAULT_SERVER="pulsaro-bench-$$" JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 > "$log" 2>&1 &
jackd_pid=$!
jack_wait -s "$JACK_DEFAULT_SERVER" -w -t 5 > /dev/null 2>&1

for load in idle busy; do
    if [ $load = busy ]; then
        command -v stress-ng > /dev/null || { echo "busy: stress-ng missing, skipped"; break; }
        stress-ng --cpu 2 --quiet > /dev/null 2>&1 &
        stress_pid=$!
        sleep 1
    fi
    for bpm in 120 127.3; do
        printf '%-5s ' $load
        "$probe" $bpm "$seconds" 2> /dev/null || echo "(probe failed)"
    done
done
echo "jackd xruns: $(grep -c XRun "$log" || true)"

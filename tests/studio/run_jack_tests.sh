#!/usr/bin/env bash
# Runs jack_midi_tests against a private dummy JACK server (48 kHz, 256-frame
# periods) under its own server name, stopped by its pid. The dummy driver
# runs in real time (its -w option sets the period, it does not speed it up),
# so the clock test's minute of frames takes a minute.
# Exits 77 (skipped) when jackd is missing.
set -uo pipefail
tests=$1
"$tests" --gtest_filter='JackMidi.WithoutAServer*' || exit 1
command -v jackd > /dev/null || { echo "jackd not installed: skipped"; exit 77; }
log=$(mktemp)
jackd_pid=
stop_jackd() {
    [ -n "$jackd_pid" ] || return 0
    kill "$jackd_pid" 2> /dev/null
    for _ in $(seq 50); do kill -0 "$jackd_pid" 2> /dev/null || break; sleep 0.1; done
    kill -9 "$jackd_pid" 2> /dev/null
    wait "$jackd_pid" 2> /dev/null
    jackd_pid=
}
trap 'stop_jackd; rm -f "$log"' EXIT
export JACK_DEFAULT_SERVER="pulsaro-test-$$-$RANDOM" JACK_NO_AUDIO_RESERVATION=1
# Synchronous: every cycle waits for all clients, so a busy machine slows the
# frames down but loses none.
jackd --sync -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 256 > "$log" 2>&1 &
jackd_pid=$!
JACK_NO_START_SERVER=1 jack_wait -s "$JACK_DEFAULT_SERVER" -w -t 5 > /dev/null 2>&1
"$tests" --gtest_filter='JackMidi.*-JackMidi.WithoutAServer*'
status=$?
stop_jackd
[ $status -eq 0 ] || { echo "jackd said:"; grep -v XRun "$log"; }
exit $status

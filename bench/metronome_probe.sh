#!/usr/bin/env bash
# Timing of the metronome, two ways:
# (a) rendered offline: every onset against the exact grid;
# (b) played through PortAudio into a private PulseAudio null sink whose
#     monitor is recorded: the period and spread of the recorded onsets, the
#     render cost per buffer and the reported latency, plus how long the
#     calls take, that the stream stops itself, the idle process's context
#     switches and the shut-down time.
# Usage: bench/metronome_probe.sh [probe-binary] [seconds (60)] [BPM (120)]
# Without a binary (or with "") it first builds metronome_probe in
# build/release. (b) is skipped when PulseAudio is not installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${1:-}" ]; then
    probe=$1
else
    probe=$root/build/release/metronome_probe
    [ -f "$root/build/release/build.ninja" ] || (cd "$root" && cmake --preset release >&2)
    (cd "$root" && cmake --build --preset release --target metronome_probe >&2)
fi
seconds=${2:-60}
bpm=${3:-120}

echo "== (a) offline"
"$probe" offline "$seconds" "$bpm"

for tool in pulseaudio pactl parec pacat; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "== (b) skipped: $tool is not installed (scripts/install-deps)"
        exit 0
    fi
done

work=$(mktemp -d)
export TMPDIR=$work HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work XDG_CACHE_HOME=$work/.cache
export JACK_NO_START_SERVER=1 PULSE_SERVER=unix:$work/native
pulse_pid="" keep_pid="" rec_pid=""
cleanup() {
    for pid in "$rec_pid" "$keep_pid" "$pulse_pid"; do
        [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    done
    for pid in "$rec_pid" "$keep_pid" "$pulse_pid"; do
        [ -n "$pid" ] && wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A float sink, so that the recording holds what was played unquantised.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    -L "module-null-sink sink_name=test rate=48000 channels=2 format=float32le norewinds=1" \
    -L "module-native-protocol-unix socket=$work/native auth-anonymous=1" \
    >"$work/pulse.log" 2>&1 &
pulse_pid=$!
for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
pactl info >/dev/null 2>&1 || { cat "$work/pulse.log"; echo "PulseAudio did not start" >&2; exit 1; }
pacat --playback --device=test --format=s16le --rate=48000 --channels=2 /dev/zero &
keep_pid=$!
parec --device=test.monitor --format=float32le --rate=48000 --channels=2 >"$work/monitor.f32" &
rec_pid=$!
sleep 0.3

echo "== (b) PortAudio into a null sink"
"$probe" play "$seconds" "$bpm"
kill "$rec_pid"
wait "$rec_pid" 2>/dev/null || true
rec_pid=""
"$probe" analyze "$work/monitor.f32" 48000 2 "$bpm"

#!/usr/bin/env bash
# Start-to-window time and memory: starts the program in a private X server,
# polls every 5 ms until its window is mapped, then reads its resident memory
# once it has settled. Prints both for each of N runs.
set -euo pipefail
program=${1:-build/release/pulsaro}
runs=${2:-5}
work=$(mktemp -d)
trap 'kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work JACK_NO_START_SERVER=1
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
for run in $(seq "$runs"); do
    start=$(date +%s%N)
    "$program" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 2000); do
        xdotool search --onlyvisible --name '^Pulsaro$' >/dev/null 2>&1 && break
        sleep 0.005
    done
    end=$(date +%s%N)
    sleep 0.5
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
    echo "run $run: $(( (end - start) / 1000000 )) ms to a shown window, ${rss} kB resident"
    kill "$pid"; wait "$pid" 2>/dev/null || true
done

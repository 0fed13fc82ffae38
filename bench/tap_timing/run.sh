#!/usr/bin/env bash
# Driver: own Xvfb :61, probe idle and busy, Space presses sent with known
# times, then analysis. Usage: bench/tap_timing/run.sh [outdir (/tmp/tap_timing_out)]
# Env: N (60 presses), BUSY_EVERY (100), BUSY_FOR (40), MODES ("xtest xdotool").
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-/tmp/tap_timing_out}
build=/tmp/tap_timing_build
N=${N:-60}; BUSY_EVERY=${BUSY_EVERY:-100}; BUSY_FOR=${BUSY_FOR:-40}
MODES=${MODES:-"xtest xdotool"}
mkdir -p "$out"

if [ ! -x "$build/tap_timing_probe" ]; then
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    timeout 300 cmake --build "$build" >/dev/null
fi

export DISPLAY=:61
Xvfb :61 -screen 0 800x600x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
probe_pid=
cleanup() {
    [ -n "$probe_pid" ] && kill "$probe_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

run_one() {  # name mode busy_args...
    local name=$1 mode=$2; shift 2
    timeout 120 "$build/tap_timing_probe" --out "$out/$name.probe.csv" --count "$N" \
        --timeout 110 "$@" >"$out/$name.probe.log" 2>&1 &
    probe_pid=$!
    local wid
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^tap_timing_probe$' | head -1)
    timeout 10 xdotool windowfocus --sync "$wid"
    sleep 0.5
    timeout 100 python3 "$here/send_keys.py" --count "$N" --mode "$mode" --out "$out/$name.send.txt"
    wait "$probe_pid" || true
    probe_pid=
    echo "== $name ($mode; probe args: ${*:-none})"
    python3 "$here/analyze.py" "$out/$name.send.txt" "$out/$name.probe.csv" | tee "$out/$name.report.txt"
}

for mode in $MODES; do
    run_one "idle_$mode" "$mode"
    run_one "busy_$mode" "$mode" --busy-every "$BUSY_EVERY" --busy-for "$BUSY_FOR"
done

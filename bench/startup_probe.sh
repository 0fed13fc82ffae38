#!/usr/bin/env bash
# Start-to-window time, memory and close-to-exit time: starts the program in a
# private X server, polls every 5 ms until its window is mapped, reads its
# resident memory once it has settled, then presses ESC and times how long the
# process lives on. Prints all three for each of N runs.
# Without a program argument (or with "") it first brings build/release up to
# date: `bench/startup_probe.sh "" 10` for ten runs of that build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${1:-}" ]; then
    program=$1
    if [ ! -x "$program" ]; then
        echo "startup_probe: $program is not a built program; build it first, e.g." >&2
        echo "    cmake --preset release && cmake --build --preset release" >&2
        exit 1
    fi
else
    program=$root/build/release/pulsaro
    # Configure once; later builds re-run CMake themselves when needed.
    [ -f "$root/build/release/build.ninja" ] || (cd "$root" && cmake --preset release >&2)
    (cd "$root" && cmake --build --preset release >&2)
fi
runs=${2:-5}
work=$(mktemp -d)
xvfb_pid=""
trap '[ -n "$xvfb_pid" ] && kill $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
export TMPDIR=$work HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
for run in $(seq "$runs"); do
    start=$(now_ms)
    "$program" >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 2000); do
        xdotool search --onlyvisible --name '^Pulsaro$' >/dev/null 2>&1 && break
        sleep 0.005
    done
    shown=$(now_ms)
    sleep 0.5
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
    # Searched again: the window may have been re-created since it was shown.
    window=$(xdotool search --onlyvisible --name '^Pulsaro$' 2>/dev/null | head -n1 || true)
    closed=$(now_ms)
    # The press closes the window, so sending the release fails; that is fine.
    xdotool key --window "$window" Escape 2>/dev/null || true
    # Polls the process state: kill -0 would also succeed on an unreaped zombie.
    while state=$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null) && [ "$state" != Z ]; do
        if [ $(( $(now_ms) - closed )) -gt 5000 ]; then
            kill "$pid"
            break
        fi
        sleep 0.005
    done
    gone=$(now_ms)
    wait "$pid" 2>/dev/null || true
    echo "run $run: $((shown - start)) ms to a shown window, ${rss} kB resident," \
        "$((gone - closed)) ms from ESC to exit"
done

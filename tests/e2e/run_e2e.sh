#!/usr/bin/env bash
# Runs the built program in a private X server and drives it like a user:
# the window must appear as "Pulsaro", take SPACE presses on the Beat button,
# absorb the first ESC while a measurement runs, and close on the second ESC
# with exit status 0.
set -euo pipefail

program=${1:?usage: run_e2e.sh path/to/pulsaro}
work=$(mktemp -d)
export HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work
export JACK_NO_START_SERVER=1
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and prints it.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
export DISPLAY=":$(head -n1 "$work/display")"

"$program" >"$work/app.log" 2>&1 &
app_pid=$!

window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --name '^Pulsaro$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "FAIL: no window titled Pulsaro appeared"
    cat "$work/app.log"
    exit 1
fi
focused=""
for _ in $(seq 20); do
    if xdotool windowfocus --sync "$window" 2>/dev/null; then
        focused=1
        break
    fi
    sleep 0.1
done
[ -n "$focused" ] || { echo "FAIL: could not focus the window"; exit 1; }

fail() {
    echo "FAIL: $1"
    exit 1
}

# Four beats; a measurement is now running.
for _ in 1 2 3 4; do
    xdotool key space
    sleep 0.25
done

# The first ESC during a measurement is absorbed: the window stays.
xdotool key Escape
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "the first ESC during a measurement closed the program"
xdotool search --name '^Pulsaro$' >/dev/null || fail "the window vanished after the first ESC"

# The second ESC closes it.
xdotool key Escape
status=""
for _ in $(seq 50); do
    if ! kill -0 "$app_pid" 2>/dev/null; then
        wait "$app_pid" && status=0 || status=$?
        break
    fi
    sleep 0.1
done
app_pid=""
[ -n "$status" ] || fail "the program did not close on the second ESC"
[ "$status" -eq 0 ] || fail "exit status $status"
echo "e2e: window shown, beats taken, ESC absorbed once, closed with status 0"

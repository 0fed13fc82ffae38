# Sourced by the end-to-end scripts: failing with the program's last output,
# a private X server and the program's window. Expects $work (a scratch
# folder); sets xvfb_pid, DISPLAY and window.

fail() {
    echo "FAIL: $1"
    [ -f "$work/app.log" ] && tail -n 20 "$work/app.log"
    exit 1
}

# Starts Xvfb with a screen of the given size (default 800x600); it picks a
# free display number itself and prints it. -noreset keeps it up between two
# runs of the program.
start_xvfb() {
    exec 3<> "$work/display"
    Xvfb -displayfd 3 -screen 0 "${1:-800x600}x24" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    export DISPLAY=":$(head -n1 "$work/display")"
}

# Waits up to 10 s for the window titled Pulsaro; sets window.
wait_for_window() {
    window=""
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --name '^Pulsaro$' 2>/dev/null | head -n1 || true)
        [ -n "$window" ] && return 0
        sleep 0.1
    done
    fail "no window titled Pulsaro appeared${1:+ $1}"
}

# shellcheck shell=bash
# Sourced by the end-to-end scripts: failing with the program's last output,
# waiting for conditions, a private X server and the program's window.
# Expects $work (a scratch folder) and, once the program runs, $app_pid; sets
# xvfb_pid, DISPLAY and window.
#
# Nothing here sleeps for a fixed time in the hope that something happened:
# every wait polls a condition and fails, naming it, when it does not come
# true in time. A slow build (the address sanitizer's, a loaded machine) then
# only takes longer. The timeouts are generous for that reason; they cost
# nothing when the condition is met early.

fail() {
    echo "FAIL: $1"
    [ -f "$work/app.log" ] && tail -n 20 "$work/app.log"
    exit 1
}

# The clock in microseconds.
now_us() {
    local t=$EPOCHREALTIME
    echo $((10#${t/./}))
}

# A number of seconds, whole or decimal (1, 0.5, 2.25), in microseconds.
seconds_us() {
    local whole=${1%%.*} fraction=0
    if [[ "$1" == *.* ]]; then
        fraction=${1#*.}000000
        fraction=$((10#${fraction:0:6}))
    fi
    echo $((10#${whole:-0} * 1000000 + fraction))
}

# wait_for <seconds> <what> [!] <command...>
# Runs the command every 0.1 s until it succeeds (with "!": until it fails),
# for at most the given number of seconds (whole or decimal); then fails
# with "<what>" as the thing that did not happen, e.g.
#   wait_for 20 "the Settings dialog to open" settings_shown
wait_for() {
    local seconds=$1 what=$2 negate="" deadline
    shift 2
    if [ "$1" = "!" ]; then
        negate=1
        shift
    fi
    deadline=$(($(now_us) + $(seconds_us "$seconds")))
    while :; do
        if [ -n "$negate" ]; then
            ! "$@" && return 0
        else
            "$@" && return 0
        fi
        [ "$(now_us)" -lt "$deadline" ] || break
        sleep 0.1
    done
    fail "gave up after $seconds s waiting for $what"
}

# expect_never <seconds> <what> <command...>
# Fails, with "<what>", as soon as the command succeeds within the given
# time. Only for what must not follow a key that no later key can be used to
# wait for, and only right after the program was seen to handle keys at once
# (see keys_handled): the time then needs to be well above what a slow build
# takes to react to a key (a menu opens within half a second under the
# address sanitizer).
expect_never() {
    local seconds=$1 what=$2 deadline
    shift 2
    deadline=$(($(now_us) + $(seconds_us "$seconds")))
    while [ "$(now_us)" -lt "$deadline" ]; do
        "$@" && fail "$what"
        sleep 0.1
    done
    return 0
}

# Starts Xvfb with a screen of the given size (default 800x600); it picks a
# free display number itself and prints it once it accepts clients.
# -noreset keeps it up between two runs of the program.
start_xvfb() {
    exec 3<> "$work/display"
    Xvfb -displayfd 3 -screen 0 "${1:-800x600}x24" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    wait_for 10 "Xvfb to start and name its display" test -s "$work/display"
    export DISPLAY=":$(head -n1 "$work/display")"
}

running() {
    kill -0 "$app_pid" 2>/dev/null
}

# The main window: the visible window titled Pulsaro that is not a menu (the
# program's menus carry its name too).
main_window() {
    local id
    for id in $(xdotool search --onlyvisible --name '^Pulsaro$' 2>/dev/null); do
        xprop -id "$id" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q MENU || {
            echo "$id"
            return 0
        }
    done
    return 1
}

window_shown() {
    window=$(main_window) && [ -n "$window" ]
}

# Waits for the main window; sets window. The argument, if any, tells which
# start it is in the failure message.
wait_for_window() {
    window=""
    wait_for 30 "a window titled Pulsaro to appear${1:+ $1}" window_shown
}

has_focus() {
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]
}

# Gives a window the keyboard focus and waits until it has it; keys sent
# after that go to it, in order.
focus_window() {
    xdotool windowfocus "$1" 2>/dev/null || true
    wait_for 10 "${2:-the window} to take the keyboard focus" has_focus "$1"
}

# The program's windows on screen: the main window, plus one per open menu
# or dialog.
shown_windows() {
    xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l
}

menu_shown() {
    [ "$(shown_windows)" -ge 2 ]
}

menu_shown_or_ended() {
    menu_shown || ! running
}

# Waits until the program has handled every key sent so far, leaving it as it
# was: keys are handled in the order they come, so once Alt+H has opened the
# Help menu, all keys before it are done with. ESC closes the menu and a
# second ESC takes the keyboard from the menu bar back to the control that
# had it. (The Help menu changes nothing when it opens; the File menu would
# recompute which saves are allowed.) Returns 1, with nothing more sent,
# when the program ended meanwhile.
keys_handled() {
    xdotool key alt+h
    wait_for 30 "Alt+H to open the Help menu (the program handling the keys before it)" \
        menu_shown_or_ended
    running || return 1
    xdotool key Escape
    wait_for 10 "ESC to close the Help menu" ! menu_shown
    xdotool key Escape
}

# Waits for the program to end and checks its exit status.
expect_exit_zero() {
    local status=""
    wait_for 20 "the program to close on $1" ! running
    wait "$app_pid" && status=0 || status=$?
    app_pid=""
    [ "$status" -eq 0 ] || fail "exit status $status after $1"
}

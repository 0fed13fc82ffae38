#!/usr/bin/env bash
# Runs the built program in a private X server and drives it like a user:
# 1. the window appears as "Pulsaro", takes SPACE presses on the Beat button,
#    absorbs the first ESC while a measurement runs and closes on the second
#    with exit status 0, printing at most one line of its own;
# 2. switched to MPM mode and closed, it starts again in MPM mode;
# 3. after a menu closed with ESC, an ESC out of the menu bar and a stray Alt,
#    SPACE still taps (no menu opens, the next ESC is absorbed by the
#    measurement) and the window never closed on the way;
# 4. eight presses 500 ms apart and F2 write a header and one 120 BPM record
#    into the quick-save file beside the result file;
# 5. the settings dialog, opened and confirmed from the keyboard, switches the
#    delimiter: the next QuickSave record is semicolon-delimited;
# 6. --help and --version print and exit at once, with a (stopped) running copy
#    left alone.
set -euo pipefail
. "$(dirname "$0")/common.sh"

program=${1:?usage: run_e2e.sh path/to/pulsaro}
work=$(mktemp -d)
export TMPDIR=$work HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work
export JACK_NO_START_SERVER=1
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
settings_file="$XDG_CONFIG_HOME/Orvik software/Pulsaro/6.5.reg"

xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

start_xvfb

# Starts the program and gives its window the keyboard focus.
start_program() {
    "$program" >"$work/app.log" 2>&1 &
    app_pid=$!
    wait_for_window
    for _ in $(seq 20); do
        xdotool windowfocus --sync "$window" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "could not focus the window"
}

# Waits for the program to end and checks its exit status.
expect_exit_zero() {
    local status=""
    for _ in $(seq 50); do
        if ! kill -0 "$app_pid" 2>/dev/null; then
            wait "$app_pid" && status=0 || status=$?
            break
        fi
        sleep 0.1
    done
    app_pid=""
    [ -n "$status" ] || fail "the program did not close on $1"
    [ "$status" -eq 0 ] || fail "exit status $status after $1"
}

stored_mode() {
    grep -o '"LastUsedCounter"=dword:[0-9a-f]*' "$settings_file" | cut -d: -f2
}

# --- 1: beats and the ESC guard ---------------------------------------------
start_program
for _ in 1 2 3 4; do
    xdotool key space
    sleep 0.25
done
xdotool key Escape
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "the first ESC during a measurement closed the program"
xdotool search --onlyvisible --name '^Pulsaro$' >/dev/null || fail "the window vanished after the first ESC"
xdotool key Escape
expect_exit_zero "the second ESC"
[ "$(stored_mode)" = "00000001" ] || fail "BPM mode was not stored at exit"
# At most the program's own line about the sound output, no library noise.
[ "$(wc -l <"$work/app.log")" -le 1 ] || fail "the program printed more than one line"

# --- 2: the display mode survives a restart ---------------------------------
start_program
xdotool key F6
sleep 0.3
xdotool key Escape
expect_exit_zero "ESC in MPM mode"
[ "$(stored_mode)" = "00000002" ] || fail "MPM mode was not stored at exit"

start_program
sleep 0.3
xdotool key Escape
expect_exit_zero "ESC after the restart"
[ "$(stored_mode)" = "00000002" ] || fail "the restart did not come back in MPM mode"

# --- 3: the keyboard comes back to the beat after the menus ----------------
# Windows of the program on screen: the main window, plus one per open menu.
shown_windows() {
    xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | wc -l
}
start_program
xdotool key alt+f
sleep 0.3
[ "$(shown_windows)" -eq 2 ] || fail "Alt+F did not open the File menu"
xdotool key Escape
sleep 0.2
xdotool key Escape
sleep 0.3
kill -0 "$app_pid" 2>/dev/null || fail "an ESC that left the menu bar closed the window"
xdotool key alt
sleep 0.2
xdotool key space
sleep 0.3
[ "$(shown_windows)" -eq 1 ] || fail "SPACE after the menus opened a menu instead of tapping"
xdotool key space
sleep 0.3
xdotool key Escape
sleep 0.3
kill -0 "$app_pid" 2>/dev/null || fail "SPACE after the menus did not tap (ESC closed the window)"
xdotool key Escape
expect_exit_zero "the second ESC after the menus"

# --- 4: QuickSave writes the measurement beside the result file --------------
start_program
xdotool key F5
sleep 0.2
xdotool key --delay 500 space space space space space space space space
xdotool key F2
sleep 0.3
quick="$HOME/Q_beats (1).csv"
[ -f "$quick" ] || fail "F2 wrote no quick-save file at $quick"
header=$(sed -n 1p "$quick")
[ "$header" = $'BPM:\tPitchRange +-8%:\tDelay (ms):\tFile created by Pulsaro\r' ] ||
    fail "unexpected quick-save header: $header"
[ "$(wc -l <"$quick")" -eq 2 ] || fail "the quick-save file holds $(wc -l <"$quick") lines, not 2"
# Eight presses 500 ms apart: 120 BPM, give or take the delays of xdotool
# and of a busy machine.
awk -F'\t' 'NR == 2 {
    sub(/\r$/, "", $3)
    exit !($1 > 118 && $1 < 122 && $2 ~ /^1[01][0-9] - 1[23][0-9]$/ && $3 > 490 && $3 < 510)
}' "$quick" || fail "unexpected quick-save record: $(sed -n 2p "$quick")"
xdotool key Escape
expect_exit_zero "ESC after a QuickSave"

# --- 5: the settings dialog from the keyboard: semicolon records -----------
start_program
xdotool key alt+f
sleep 0.3
xdotool key e
sleep 0.8
settings_window=$(xdotool search --onlyvisible --name '^Settings$' 2>/dev/null | head -n1 || true)
[ -n "$settings_window" ] || fail "Alt+F, E did not open the settings dialog"
xdotool key alt+d
sleep 0.2
xdotool key Down Down
sleep 0.2
xdotool key Return
sleep 0.5
xdotool search --onlyvisible --name '^Settings$' >/dev/null 2>&1 &&
    fail "ENTER did not confirm the settings dialog"
grep -q '"Delimiter"=dword:00000002' "$settings_file" || fail "the semicolon delimiter was not stored"
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --delay 500 space space space space space space space space
xdotool key F2
sleep 0.3
quick="$HOME/Q_beats (1).csv"
[ "$(sed -n 3p "$quick" | tr -dc ';' | wc -c)" -eq 2 ] ||
    fail "the record after the settings change is not semicolon-delimited: $(sed -n 3p "$quick")"
xdotool key Escape
expect_exit_zero "ESC after the settings change"

# --- 6: --help and --version answer without a window and leave a running copy alone
start_program
# A stopped copy would make any hand-over wait 10 s: these must not try one.
kill -STOP "$app_pid"
version=$(timeout 3 "$program" --version) || { kill -CONT "$app_pid"; fail "--version did not answer at once"; }
usage=$(timeout 3 "$program" --help) || { kill -CONT "$app_pid"; fail "--help did not answer at once"; }
kill -CONT "$app_pid"
[ "$version" = "Pulsaro 6.5 (build 2968)" ] || fail "--version printed: $version"
case "$usage" in Usage:*) ;; *) fail "--help printed: $usage" ;; esac
[ "$(xdotool search --onlyvisible --name '^Pulsaro$' | wc -l)" -eq 1 ] || fail "a second window appeared"
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key Escape
expect_exit_zero "ESC after --help and --version"

echo "e2e: window shown, beats taken, ESC absorbed once, exit status 0, MPM mode kept across a restart, SPACE taps after the menus, QuickSave writes 120 BPM, the settings dialog switches to semicolons, --help and --version leave the running copy alone"
echo "settings file as written:"
sed 's/^/    /' "$settings_file"

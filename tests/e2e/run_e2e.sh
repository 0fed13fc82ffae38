#!/usr/bin/env bash
# Runs the built program in a private X server and drives it like a user:
# 1. the window appears as "Pulsaro", takes SPACE presses on the Beat button,
#    absorbs the first ESC while a measurement runs and closes on the second
#    with exit status 0, printing at most one line of its own;
# 2. switched to MPM mode and closed, it starts again in MPM mode;
# 3. after a menu closed with ESC, an ESC out of the menu bar and a stray Alt,
#    SPACE still taps (no menu opens, the next ESC is absorbed by the
#    measurement) and the window never closed on the way;
# 4. eight presses 500 ms apart and F2 write a header and one record into
#    the quick-save file beside the result file: the tempo of the presses as
#    the X server stamped them (about 120 BPM);
# 5. the settings dialog, opened and confirmed from the keyboard, switches the
#    delimiter: the next QuickSave record keeps the file's TAB delimiter;
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
key_log_pid=""
cleanup() {
    [ -n "$key_log_pid" ] && kill "$key_log_pid" 2>/dev/null || true
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
    focus_window "$window" "the Pulsaro window"
}

stored_mode() {
    grep -o '"LastUsedCounter"=dword:[0-9a-f]*' "$settings_file" | cut -d: -f2
}

# --- 1: beats and the ESC guard ---------------------------------------------
start_program
# Four beats a quarter of a second apart: a tempo the program takes.
for _ in 1 2 3 4; do
    xdotool key space
    sleep 0.25
done
xdotool key Escape
keys_handled || fail "the first ESC during a measurement closed the program"
window_shown || fail "the window vanished after the first ESC"
xdotool key Escape
expect_exit_zero "the second ESC"
[ "$(stored_mode)" = "00000001" ] || fail "BPM mode was not stored at exit"
# At most the program's own line about the sound output, no library noise.
[ "$(wc -l <"$work/app.log")" -le 1 ] || fail "the program printed more than one line"

# --- 2: the display mode survives a restart ---------------------------------
# Keys are handled in order: F6 has switched to MPM mode when ESC comes.
start_program
xdotool key F6 Escape
expect_exit_zero "ESC in MPM mode"
[ "$(stored_mode)" = "00000002" ] || fail "MPM mode was not stored at exit"

start_program
xdotool key Escape
expect_exit_zero "ESC after the restart"
[ "$(stored_mode)" = "00000002" ] || fail "the restart did not come back in MPM mode"

# --- 3: the keyboard comes back to the beat after the menus ----------------
start_program
xdotool key alt+f
wait_for 30 "Alt+F to open the File menu" menu_shown
[ "$(shown_windows)" -eq 2 ] || fail "Alt+F opened $(($(shown_windows) - 1)) menus, not the File menu alone"
xdotool key Escape
wait_for 10 "ESC to close the File menu" ! menu_shown
xdotool key Escape
keys_handled || fail "an ESC that left the menu bar closed the window"
# A menu opened by SPACE would take every later key, and Alt+H would only
# switch it to the Help menu: this one is watched for. The program has just
# handled keys at once, so such a menu would show well within the time.
xdotool key alt space
expect_never 1.5 "SPACE after the menus opened a menu instead of tapping" menu_shown
# The second beat, then ESC: absorbed, as a measurement runs.
xdotool key space Escape
keys_handled || fail "SPACE after the menus did not tap (ESC closed the window)"
xdotool key Escape
expect_exit_zero "the second ESC after the menus"

# --- 4: QuickSave writes the measurement beside the result file --------------
quick="$HOME/Q_beats (1).csv"
# Holds at least the given number of lines.
quick_lines() {
    [ -f "$quick" ] && [ "$(wc -l <"$quick")" -ge "$1" ]
}
# The X server's time stamps of the window's key presses, as the program gets
# them, logged by xev listening on the same window. (Shift, which the
# program ignores, shows once the log runs.)
key_log_runs() {
    xdotool key shift
    grep -q 'Shift_' "$work/keys.log"
}
space_stamps() {
    awk '/^KeyPress/ { press = 1 }
        press && match($0, /time [0-9]+/) { stamp = substr($0, RSTART + 5, RLENGTH - 5) }
        press && /keysym .*, space\)/ { print stamp; press = 0 }
        /^KeyRelease/ { press = 0 }' "$work/keys.log"
}
eight_spaces_logged() {
    [ "$(space_stamps | wc -l)" -ge 8 ]
}
start_program
xdotool key F5
stdbuf -oL xev -id "$window" -event keyboard >"$work/keys.log" 2>&1 &
key_log_pid=$!
wait_for 10 "xev to log the window's key presses" key_log_runs
# The timed presses start once the program handles keys as they come: until
# it has seen one key arrive without waiting behind its start-up work (the
# sound device check) it cannot tell how late the first press reached it.
keys_handled || fail "the program closed after F5"
# Eight presses 500 ms apart, timed by xdotool.
xdotool key --delay 500 space space space space space space space space
xdotool key F2
wait_for 20 "F2 to write a header and a record to the quick-save file $quick" quick_lines 2
wait_for 10 "xev to log the eight presses" eight_spaces_logged
kill "$key_log_pid"
wait "$key_log_pid" 2>/dev/null || true
key_log_pid=""
header=$(sed -n 1p "$quick")
[ "$header" = $'BPM:\tPitchRange +-8%:\tDelay (ms):\tFile created by Pulsaro\r' ] ||
    fail "unexpected quick-save header: $header"
[ "$(wc -l <"$quick")" -eq 2 ] || fail "the quick-save file holds $(wc -l <"$quick") lines, not 2"
# The tempo of the presses as stamped: 120 BPM give or take the delays of
# xdotool and of a busy machine, which stretch a gap now and then. The
# record must show that tempo: within 0.2 BPM (one decimal shown, stamps in
# whole milliseconds), its pitch range 8 % either side of it and the delay
# of a beat in milliseconds.
read -r first last <<<"$(space_stamps | sed -n '1p;8p' | tr '\n' ' ')"
pressed=$(awk -v span=$((last - first)) 'BEGIN { printf "%.3f", 7 * 60000 / span }')
awk -v t="$pressed" 'BEGIN { exit !(t > 110 && t < 130) }' ||
    fail "the presses were not about 500 ms apart: $pressed BPM as stamped by the X server"
awk -F'\t' -v t="$pressed" 'NR == 2 {
    sub(/\r$/, "", $3)
    if (split($2, range, / - /) != 2) exit 1
    exit !($1 > t - 0.2 && $1 < t + 0.2 &&
        range[1] >= 0.92 * t - 1 && range[1] <= 0.92 * t + 1 &&
        range[2] >= 1.08 * t - 1 && range[2] <= 1.08 * t + 1 &&
        $3 > 60000 / t - 1 && $3 < 60000 / t + 1)
}' "$quick" ||
    fail "unexpected quick-save record for presses at $pressed BPM: $(sed -n 2p "$quick")"
xdotool key Escape
expect_exit_zero "ESC after a QuickSave"

# --- 5: the settings dialog from the keyboard: the file keeps its delimiter ---
settings_window=""
settings_shown() {
    settings_window=$(xdotool search --onlyvisible --name '^Settings$' 2>/dev/null | head -n1)
    [ -n "$settings_window" ]
}
semicolons_stored() {
    grep -q '"Delimiter"=dword:00000002' "$settings_file" 2>/dev/null
}
start_program
xdotool key alt+f
wait_for 30 "Alt+F to open the File menu" menu_shown
xdotool key e
wait_for 30 "E in the File menu to open the Settings dialog" settings_shown
wait_for 10 "the Settings dialog to take the keyboard focus" has_focus "$settings_window"
# Alt+D: the delimiter list; two down from the tab, the semicolon.
xdotool key alt+d Down Down Return
wait_for 20 "ENTER to confirm and close the Settings dialog" ! settings_shown
wait_for 10 "the semicolon delimiter to be stored in $settings_file" semicolons_stored
# With no window manager the focus does not go back to the window by itself.
focus_window "$window" "the Pulsaro window, after the Settings dialog,"
xdotool key --delay 500 space space space space space space space space
xdotool key F2
wait_for 20 "F2 to add a second record to the quick-save file" quick_lines 3
# The file keeps the delimiter of its header line, so it stays readable.
[ "$(sed -n 3p "$quick" | tr -dc '\t' | wc -c)" -eq 2 ] &&
    [ "$(sed -n 3p "$quick" | tr -dc ';' | wc -c)" -eq 0 ] ||
    fail "the record after the settings change left the file's TAB delimiter: $(sed -n 3p "$quick")"
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
focus_window "$window" "the Pulsaro window, after --help and --version,"
xdotool key Escape
expect_exit_zero "ESC after --help and --version"

echo "e2e: window shown, beats taken, ESC absorbed once, exit status 0, MPM mode kept across a restart, SPACE taps after the menus, QuickSave writes 120 BPM, a changed delimiter leaves the existing file's own, --help and --version leave the running copy alone"
echo "settings file as written:"
sed 's/^/    /' "$settings_file"

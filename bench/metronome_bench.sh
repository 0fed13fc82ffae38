#!/usr/bin/env bash
# Timing benchmark of the metronome, on an idle machine and with both cores
# busy (stress-ng --cpu 2):
#  1. probe:  metronome_probe play (the engine through PortAudio) at 120 and
#             128 BPM for 20 s into a private sound server's float32 null
#             sink (PulseAudio, or PipeWire through pipewire-pulse),
#             recorded from its monitor;
#  2. klick:  the JACK metronome klick at the same tempos, under its own
#             jackd (dummy driver, 48 kHz, 256-frame periods), recorded with
#             jack_rec - for comparison;
#  3. tapped: the program itself under its own Xvfb (and the sound
#             server), metronome armed (F4), 8 SPACE presses 500 ms apart;
#             when the run times out the metronome goes on from the presses.
#             The error of its first clicks against the grid of the
#             presses.
# Then a summary table.
#
# Usage: bench/metronome_bench.sh [--server pulseaudio|pipewire|both]
#                                  [PROGRAM] [SECONDS (20)]
#   --server which sound server the PortAudio runs (1., 3.) play into
#            (default pulseaudio); with both, all runs under PulseAudio and
#            then under PipeWire. The servers come from bench/sound_server.sh.
#            klick (2.) has its own jackd and runs in the first server's
#            pass only.
#   PROGRAM  the built program for the tapping runs (3.), e.g.
#            build/release/pulsaro or build/dev/pulsaro; without it (or
#            with "") they are left out.
# Environment:
#   BENCH_RUNS   which runs (default "probe klick tapped")
#   BENCH_LOADS  which loads (default "idle busy")
#   BENCH_KEEP   a folder to copy the recordings and logs into
# Builds metronome_probe in build/release (and a small marker player into a
# temporary folder). Needs pulseaudio, pulseaudio-utils, python3 (and for
# PipeWire pipewire, pipewire-pulse, wireplumber, dbus-daemon), and for
# the runs: stress-ng (busy runs), jackd2 + klick (2.), Xvfb, xdotool,
# x11-utils (xev) (3.). Runs whose tools are missing are skipped. Every
# server and helper is private to this run (its own XDG_RUNTIME_DIR, HOME,
# PulseAudio socket, JACK server name, X display) and is ended by its pid.
#
# How the figures are made (bench/metronome_timing/analyze.py): an onset is
# where a click crosses half of its own peak, linearly interpolated between
# samples. Each onset is taken against the exact period P = 60000/BPM ms from
# the onset before it: n = round(interval / P) grid points on, off by
# e = interval - n P. n - 1 grid points were missed; an onset with n = 0 or
# |e| > P / 10 is extra (after an extra one with n > 0 the grid goes on from
# it, so a phase jump counts once); the other onsets are the clicks.
#   period   (last - first onset) / grid points between them
#   jit sd   root mean square of e over all intervals (against the exact
#            period, not against the mean)
#   jit max  largest |e|
#   drift    the last onset's error against the exact grid anchored at the
#            first onset (not a least-squares fit)
#   underr.  probe: PortAudio output underflows as metronome_probe play
#            counts them; klick: the xruns jackd reported plus jack_rec's
#            overruns
# The tapping runs are described above their code below.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
here=$root/bench/metronome_timing
# main_window, shared with the end-to-end tests; what this script defines
# itself below takes precedence.
. "$root/tests/e2e/common.sh"
. "$root/bench/sound_server.sh"
servers=pulseaudio
while [ $# -gt 0 ]; do
    case $1 in
        --server)
            case ${2:-} in
                pulseaudio | pipewire) servers=$2 ;;
                both) servers="pulseaudio pipewire" ;;
                *) echo "metronome_bench: --server pulseaudio, pipewire or both" >&2; exit 2 ;;
            esac
            shift 2
            ;;
        --server=*) set -- --server "${1#--server=}" "${@:2}" ;;
        *) break ;;
    esac
done
program=${1:-}
seconds=${2:-20}
runs=${BENCH_RUNS:-probe klick tapped}
loads=${BENCH_LOADS:-idle busy}
bpms="120 128"
started_at=$(date +%s)

have() { command -v "$1" >/dev/null 2>&1; }
wanted() { [[ " $runs " == *" $1 "* ]]; }
note() { echo "   $*"; }

for tool in pactl parec pacat python3 stdbuf; do
    have "$tool" || { echo "metronome_bench: $tool is not installed" >&2; exit 1; }
done
for server in $servers; do
    case $server in
        pulseaudio) needed="pulseaudio" ;;
        pipewire) needed="pipewire wireplumber pipewire-pulse dbus-daemon" ;;
    esac
    for tool in $needed; do
        have "$tool" || { echo "metronome_bench: $tool is not installed" >&2; exit 1; }
    done
done
if [[ " $loads " == *" busy "* ]] && ! have stress-ng; then
    echo "metronome_bench: stress-ng is not installed (apt-get install stress-ng)" >&2
    exit 1
fi

# --- builds ------------------------------------------------------------------
probe=$root/build/release/metronome_probe
if wanted probe; then
    [ -f "$root/build/release/build.ninja" ] || (cd "$root" && cmake --preset release >&2)
    (cd "$root" && cmake --build --preset release --target metronome_probe >&2)
fi
work=$(mktemp -d)
chmod 700 "$work"
if wanted tapped; then
    if [ -z "$program" ]; then
        echo "== tapping runs left out: no program given"
        runs=${runs/tapped/}
    elif [ ! -x "$program" ]; then
        echo "metronome_bench: $program is not a built program" >&2
        exit 1
    else
        program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
        g++ -std=c++20 -O2 "$here/marker_player.cpp" -lportaudio -o "$work/marker_player"
    fi
fi

# --- private servers ---------------------------------------------------------
export TMPDIR=$work HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work
export XDG_CACHE_HOME=$work/.cache
# XDG_RUNTIME_DIR and PULSE_SERVER: each sound server's own, set as it starts.
export JACK_NO_START_SERVER=1
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
# Every JACK client started here (and PortAudio's JACK look-up) sees only
# this run's own server.
jack_name=pulsaro-bench-$$
export JACK_DEFAULT_SERVER=$jack_name
# jackd leaves its shared registry in /dev/shm; removed at the end when this
# run made it and nothing uses it then. (JACK's metadata store there,
# jack_db-UID, is opened by every JACK client library, PortAudio's in any
# program too, so it is not this run's to remove.)
jack_registry=/dev/shm/jack-shm-registry
registry_was_there=""
[ -e "$jack_registry" ] && registry_was_there=1

keep_pid="" rec_pid="" stress_pid="" jack_pid="" klick_pid="" xvfb_pid="" app_pid=""
run_pid=""
stop_pid() {  # ends one process started here, by its pid, and reaps it
    local pid=$1
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    for pid in "$run_pid" "$app_pid" "$klick_pid" "$rec_pid" "$stress_pid" "$jack_pid" \
        "$keep_pid" "$xvfb_pid"; do
        stop_pid "$pid"
    done
    stop_sound_server
    if [ -n "${BENCH_KEEP:-}" ]; then
        mkdir -p "$BENCH_KEEP"
        cp -r "$work"/*.f32 "$work"/*.wav "$work"/*.log "$BENCH_KEEP"/ 2>/dev/null || true
    fi
    if [ -z "$registry_was_there" ] && [ -e "$jack_registry" ] && ! pgrep -x jackd >/dev/null &&
        ! fuser -s "$jack_registry" 2>/dev/null; then
        rm -f "$jack_registry"
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

poll() {  # poll SECONDS COMMAND...: until the command succeeds; 1 when it never did
    local tries=$(($1 * 10))
    shift
    while [ "$tries" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

# The sound server, with a float null sink (so that the recording holds what
# was played unquantised) as the default output. BENCH_SERVER_RT=1: the
# sound server's threads run real-time, as a desktop's PulseAudio or
# PipeWire does through rtkit (see bench/sound_server.sh).
start_server() {  # pulseaudio or pipewire
    mkdir -p "$work/$1"
    "start_$1" "$work/$1" || exit 1
    # A null sink stalls a new stream for up to 2 s unless something keeps it running.
    pacat --playback --device="$BENCH_SINK" --format=s16le --rate=48000 --channels=2 /dev/zero &
    keep_pid=$!
}
stop_server() {
    stop_pid "$keep_pid"
    keep_pid=""
    cp "$SOUND_SERVER_LOG" "$work/$SOUND_SERVER.log" 2>/dev/null || true
    stop_sound_server
}

# Records the sink's monitor into $1 (float32, stereo, 48 kHz), noting arrival
# times in $2; returns once samples come in.
start_recording() {
    : >"$work/rec.out"
    # Ahead of stress-ng (nice 0), so that a busy machine does not make the
    # recording drop pieces.
    nice -n -10 python3 "$here/record.py" "$1" "$2" "$BENCH_SINK.monitor" >"$work/rec.out" \
        2>>"$work/rec.err" &
    rec_pid=$!
    poll 10 grep -qs recording "$work/rec.out" ||
        note "the recorder did not start: $(cat "$work/rec.err")"
}
stop_recording() {
    stop_pid "$rec_pid"
    rec_pid=""
}

start_load() {  # $1: idle or busy
    if [ "$1" = busy ] && [ -z "$stress_pid" ]; then
        # A time limit too, in case this script is killed without its cleanup.
        stress-ng --cpu 2 --timeout 600s --quiet &
        stress_pid=$!
        sleep 1
    elif [ "$1" = idle ] && [ -n "$stress_pid" ]; then
        stop_pid "$stress_pid"
        stress_pid=""
    fi
}

results=$work/results.txt
: >"$results"
report() { python3 "$here/report.py" "$@"; }
row() {  # SOURCE LOAD BPM UNDERRUNS FIGURES (analyze.py grid's key=value words)
    echo "$server $*" >>"$results"
    report row "$server" "$@"
}

# --- 1. the engine through PortAudio ------------------------------------------
probe_run() {  # LOAD BPM
    local load=$1 bpm=$2 base=$work/probe-$server-$1-$2
    start_recording "$base.f32" "$base.arrivals.log"
    stdbuf -oL "$probe" play "$seconds" "$bpm" >"$base.log" 2>"$base.err" &
    run_pid=$!
    # The stream stops itself 3 s after the last click: the run is recorded.
    poll $((seconds + 20)) grep -qs "stream stopped itself" "$base.log" || true
    stop_recording
    local underruns
    underruns=$(grep -o '[0-9]* underflows' "$base.log" | head -n1 | cut -d' ' -f1 || true)
    local figures
    figures=$(python3 "$here/analyze.py" grid "$base.f32" "$bpm" --rate 48000 --channels 2)
    wait "$run_pid" 2>/dev/null || true
    run_pid=""
    row probe "$load" "$bpm" "${underruns:-?}" "$figures"
    note "  $(grep -o "stream: .*" "$base.log" | head -n1 || true)"
}

# --- 2. klick under JACK -------------------------------------------------------
jack_buffer=16384
while [ "$jack_buffer" -lt $(((seconds + 5) * 48000)) ]; do jack_buffer=$((jack_buffer * 2)); done
start_jack() {
    jackd -n "$jack_name" -d dummy -r 48000 -p 256 >"$work/jackd-$1.log" 2>&1 &
    jack_pid=$!
    poll 10 jack_lsp >/dev/null 2>&1 ||
        note "jackd did not answer: $(tail -n 3 "$work/jackd-$1.log")"
}
stop_jack() {
    stop_pid "$jack_pid"
    jack_pid=""
}
klick_port_there() {
    jack_lsp 2>/dev/null | grep -qx "$jack_name-klick:out"
}
klick_run() {  # LOAD BPM
    local load=$1 bpm=$2 base=$work/klick-$1-$2
    local xruns_before
    xruns_before=$(grep -ci xrun "$work/jackd-$load.log" || true)
    # -e: every beat sounds alike (no accent on the first of the bar).
    klick -n "$jack_name-klick" -e -d 0.5 "$bpm" >"$base.log" 2>&1 &
    klick_pid=$!
    poll 10 klick_port_there || note "klick's port did not appear: $(cat "$base.log")"
    # A ring buffer for the whole run: jack_rec's disk thread, not a
    # real-time one, may be held up for long on a busy machine.
    jack_rec -f "$base.wav" -d "$seconds" -b 32 -B "$jack_buffer" \
        "$jack_name-klick:out" >"$base.rec.log" 2>&1 || true
    stop_pid "$klick_pid"
    klick_pid=""
    local xruns overruns
    xruns=$(($(grep -ci xrun "$work/jackd-$load.log" || true) - xruns_before))
    overruns=$(grep -o '[0-9]* overruns' "$base.rec.log" | head -n1 | cut -d' ' -f1 || true)
    row klick "$load" "$bpm" "$((xruns + ${overruns:-0}))" \
        "$(python3 "$here/analyze.py" grid "$base.wav" "$bpm")"
}

# --- 3. the program's clicks after a tapping run ------------------------------
# The driver (tap_driver.py) presses SPACE with xdotool 8 times, 500 ms apart.
# xev, listening on the program's window, reads each press's X time stamp
# (Xvfb's clock is CLOCK_MONOTONIC in whole ms). Markers - 3 ms of a 1 kHz
# square wave on the right channel only - come from marker_player, a
# PortAudio client like the program: same default device, rate and latency
# setting, and it places a marker the way the program places a click, from
# the stream's own output-time reports (there, the median over the last 31
# blocks). The clicks sound on both channels, so right - left holds the
# markers alone and left the clicks alone, on one recording.
#   tap markers: one per press, asked for at stamp + 0.5 ms + 200 ms (the
#     middle of the stamp's millisecond; the 200 ms let it be scheduled ahead
#     rather than played "now").
#   rulers: markers every 250 ms, at instants the driver chose, from 2 s
#     before the first press to the end. They map the recording onto
#     CLOCK_MONOTONIC (interpolated between neighbouring rulers; one more than
#     0.5 ms off its neighbours' line is left out), so the results are in real
#     time although the null sink's clock runs hundreds of ppm fast.
# Calibration of the marker path: the rulers' spread against their
# neighbours; the tap markers against the instants they were asked for, on
# the rulers' time line; and the absolute offset, against the sink's own
# play-out clock: record.py notes when each piece of the recording arrives,
# the earliest arrival against the frame count gives when the sink rendered
# a frame, and a null sink plays a frame at most its configured latency
# ("block", read with pactl) after rendering it.
# The marker player, the driver (with xdotool and xev) and the recorder run
# at nice -10, ahead of stress-ng: the reference and the "user" stay steady,
# the program and the sound server get what the load leaves them.
# Grids: "LS" is the least-squares line through the presses as the tap
# markers place them; "rule" is the program's own rule applied to them (from
# the last press on, at the tempo from the first press to the last). Errors
# are of the first clicks after the run ended against the nearest grid beat,
# in ms (positive: late), of the onsets as heard (the program puts each
# click sound's attack, not its first frame, on the beat). Last, F2
# (QuickSave) shows the tempo the program measured.
xvfb_started() { [ -s "$work/display" ]; }
start_xvfb() {
    exec 3<>"$work/display"
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    poll 10 xvfb_started
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY
}
window_shown() { window=$(main_window) && [ -n "$window" ]; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]; }
app_running() { kill -0 "$app_pid" 2>/dev/null; }
quick_saved() { [ "$(cat "$home"/Q_*.csv 2>/dev/null | wc -l)" -ge 2 ]; }
tapped_run() {  # LOAD
    local load=$1 base=$work/tapped-$server-$1
    # A fresh settings folder each time: the program stores the armed
    # metronome at exit, and F4 would then switch it off.
    home=$work/home-$server-$load
    local config=$work/config-$server-$load
    mkdir -p "$home"
    HOME=$home XDG_CONFIG_HOME=$config "$program" >"$base.app.log" 2>&1 &
    app_pid=$!
    if ! poll 30 window_shown; then
        note "tapped $load: no window titled Pulsaro appeared"
        stop_pid "$app_pid"
        app_pid=""
        return 0
    fi
    xdotool windowfocus "$window" 2>/dev/null || true
    poll 10 has_focus || note "tapped $load: the window did not take the focus"
    # F4: the metronome menu item, armed for the end of the next run.
    xdotool key F4
    start_recording "$base.f32" "$base.arrivals.log"
    # The markers are the reference: they play ahead of stress-ng (nice -10,
    # which PortAudio's and PulseAudio's client threads in the player take on).
    nice -n -10 python3 "$here/tap_driver.py" "$work/marker_player" "$base.driver.log" \
        --window "$window" \
        --presses 8 --interval 0.5 --delay 0.2 --after 5.5 2>"$base.driver.err" || true
    stop_recording
    # F2 (QuickSave) writes the tempo the program measured beside its result
    # file: a look at what it took from the presses.
    xdotool key F2
    poll 10 quick_saved || true
    quick_tempo=$(sed -n 2p "$home"/Q_*.csv 2>/dev/null | cut -f1 || true)
    xdotool key Escape
    poll 20 eval '! app_running' || { note "tapped $load: ESC did not close the program"; }
    stop_pid "$app_pid"
    app_pid=""
    local armed
    armed=$(grep -o '"MetronomeActive"=dword:[0-9a-f]*' \
        "$config/Orvik software/Pulsaro/6.5.reg" 2>/dev/null | cut -d: -f2 || true)
    [ "$armed" = 00000001 ] ||
        note "tapped $load: the settings stored MetronomeActive=${armed:-none}, not 1"
    [ -s "$base.driver.err" ] && note "tapped $load: $(cat "$base.driver.err")"
    python3 "$here/analyze.py" tapped "$base.f32" "$base.driver.log" \
        --arrivals "$base.arrivals.log" ${click_lead:+--click-lead-ms "$click_lead"} \
        >"$base.figures" || true
    local figures
    figures="$(cat "$base.figures") quick_tempo=${quick_tempo:-none}"
    echo "$server tapped $load $figures" >>"$results"
    report tapped "$server $load" "$figures"
}

# --- the runs ------------------------------------------------------------------
skip_klick=""
if wanted klick; then
    for tool in jackd klick jack_rec jack_lsp; do
        have "$tool" || {
            skip_klick="$tool is not installed (apt-get install jackd2 klick)"
            break
        }
    done
fi
skip_tapped=""
if wanted tapped; then
    for tool in Xvfb xdotool xev xprop g++; do
        have "$tool" || { skip_tapped="$tool is not installed"; break; }
    done
    if [ -z "$skip_tapped" ]; then
        start_xvfb
        click_lead=""
    fi
fi

first_server=${servers%% *}
for server in $servers; do
    start_server "$server"
    for load in $loads; do
        start_load "$load"
        echo "== $server, $load$([ "$load" = busy ] && echo ' (stress-ng --cpu 2)')"
        if wanted probe; then
            echo "-- metronome_probe play, ${seconds} s per tempo, $(pactl info | sed -n 's/^Server Name: //p') null sink"
            report header
            for bpm in $bpms; do probe_run "$load" "$bpm"; done
        fi
        if wanted klick && [ "$server" = "$first_server" ]; then
            echo "-- klick, ${seconds} s per tempo, jackd -d dummy -r 48000 -p 256, jack_rec"
            if [ -n "$skip_klick" ]; then
                note "skipped: $skip_klick"
            else
                report header
                start_jack "$load"
                for bpm in $bpms; do klick_run "$load" "$bpm"; done
                stop_jack
            fi
        fi
        if wanted tapped; then
            echo "-- the program, F4, 8 presses 500 ms apart, clicks after the run ended"
            if [ -n "$skip_tapped" ]; then
                note "skipped: $skip_tapped"
            else
                tapped_run "$load"
            fi
        fi
    done
    start_load idle
    stop_server
done

# --- summary -------------------------------------------------------------------
echo
echo "== summary"
report summary "$results"
echo "== took $(($(date +%s) - started_at)) s"

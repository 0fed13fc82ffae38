#!/usr/bin/env bash
# Listening benchmark: how soon and how well a detector hears the tempo of
# music the computer plays, on a private sound server.
#
# For each server and each corpus track: mpv plays the track into the null
# sink (bench/sound_server.sh; mpv's MPRIS plugin loaded, and its name looked
# for on the run's private session bus, as a desktop's media keys would find
# the player), the sink's monitor is recorded (parecord, float32 48 kHz), and
# the detectors are scored on what was heard:
#
#   aubio-tempo  `aubio tempo` reads a file and gives one tempo for all of
#                it; it has no running estimate to read, and no input from a
#                pipe or a Pulse source. So it is run on growing pieces of
#                the recording: from the music's first sample (found by
#                cross-correlation with the track, bench/listen_score.py) to
#                2, 4, ... s, up to the track's end. Its answer for a piece
#                of t seconds is taken as what it would say after t seconds
#                of listening. That flatters it: no analysis time, and every
#                answer looks at all that came before. Its CPU figure is one
#                pass over the whole piece (% of one core = CPU seconds over
#                the music's seconds).
#   pulsaro      build/bench/listen_runner (when it is built, or with
#                --runner): the program's capture and live tempo, listening
#                to the monitor while the track plays; one line per estimate.
#                Its CPU figure is its user + system time over its wall time.
#
# Figures (bench/listen_report.py; t is seconds of music heard):
#   seconds to lock       first t from which every estimate to the end is
#                         within 0.1 BPM of the truth (median, p90; "never")
#   share locked <= 8 s
#   error after 30 s      |estimate - truth| BPM, the last estimate by 30 s
#                         (or the track's end); the median over the tracks
#   share within 0.02     of tracks, error after 30 s at most 0.02 BPM
#   right octave share    estimate after 30 s within 4 % of the truth
#   CPU % of one core     the median over the tracks
# With --taps the runner taps (4 taps at the true beats, +-20 ms, uniform
# at random with a fixed seed), the first about 2 s into the music, and joins
# them with what it hears (its rows are "pulsaro+taps", and what the join
# gave is in the taps CSV). With --metronome it taps so too and plays its clicks on the grid it joined with what it heard; the
# recording of the sink then holds the music and the clicks, and
# bench/listen_score.py gives each click's offset from the true beat
# (median and p95 of |offset|, in the runs' CSV).
#
# Usage: bench/listen_bench.sh [--server pulseaudio|pipewire|both] [--tracks N]
#                              [--every K] [--runner PATH | --no-runner] [--taps | --metronome]
#   --server   default both
#   --every    every K-th track of the manifest, from the first (a spread over
#              its sources, which it lists one after the other)
#   --tracks   the first N of those (default: all)
# Environment: CORPUS (default /tmp/pulsaro-tempo-corpus: audio/*.wav and
# manifest.csv; only its "dev" rows), OUT (default build/bench/listen: the
# per-run CSVs, the recordings' scores and summary.md), BENCH_KEEP=1 keeps the
# recordings in OUT too.
# Needs pulseaudio or pipewire + wireplumber + pipewire-pulse, pulseaudio-utils,
# dbus-daemon, dbus-send, mpv, mpv-mpris, aubio-tools, python3-numpy.
# Every server, bus and player is started here, private to this run (its own
# XDG_RUNTIME_DIR, HOME, session bus), and ended by its pid.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${CORPUS:-/tmp/pulsaro-tempo-corpus}
out=${OUT:-$root/build/bench/listen}
py=/usr/bin/python3
servers="pulseaudio pipewire"
count=""
every=1
runner=$root/build/bench/listen_runner
use_runner=auto
metronome=""
taps=""
while [ $# -gt 0 ]; do
    case $1 in
        --server)
            case ${2:-} in
                pulseaudio | pipewire) servers=$2 ;;
                both) servers="pulseaudio pipewire" ;;
                *) echo "listen_bench: --server pulseaudio, pipewire or both" >&2; exit 2 ;;
            esac
            shift 2
            ;;
        --tracks) count=$2; shift 2 ;;
        --every) every=$2; shift 2 ;;
        --runner) runner=$2; use_runner=yes; shift 2 ;;
        --no-runner) use_runner=no; shift ;;
        --metronome) metronome=1; taps=1; shift ;;
        --taps) taps=1; shift ;;
        *) echo "listen_bench: unknown argument $1" >&2; exit 2 ;;
    esac
done
mpris_plugin=/usr/lib/mpv-mpris/mpris.so
for tool in pactl parecord pacat mpv aubio dbus-daemon dbus-send "$py"; do
    command -v "$tool" >/dev/null || { echo "listen_bench: $tool is not installed" >&2; exit 1; }
done
[ -f "$mpris_plugin" ] || { echo "listen_bench: mpv-mpris is not installed" >&2; exit 1; }
[ -f "$corpus/manifest.csv" ] || {
    echo "listen_bench: no corpus in $corpus (/work/shared/tempo_corpus/make_corpus.sh)" >&2
    exit 1
}
if [ "$use_runner" = auto ]; then
    [ -x "$runner" ] && use_runner=yes || use_runner=no
fi
if [ "$use_runner" = yes ] && [ ! -x "$runner" ]; then
    echo "listen_bench: $runner is not built" >&2
    exit 1
fi
if [ -n "$taps" ] && [ "$use_runner" = no ]; then
    echo "listen_bench: --taps and --metronome need the runner" >&2
    exit 1
fi

# The tracks: file, bpm, beat offset, duration.
tracks=$($py - "$corpus/manifest.csv" "${count:-0}" "$every" <<'PY'
import csv, sys
rows = [r for r in csv.DictReader(open(sys.argv[1])) if r.get("set", "dev") == "dev"]
rows = rows[::max(1, int(sys.argv[3]))]
n = int(sys.argv[2])
for r in rows[:n] if n > 0 else rows:
    print(r["file"], r["bpm"], r["beat_offset_s"], r["duration_s"])
PY
)

. "$root/bench/sound_server.sh"
work=$(mktemp -d)
chmod 700 "$work"
mkdir -p "$out"
stamp=$(date +%Y%m%d-%H%M%S)
timeline=$out/timeline-$stamp.csv
clicks_csv=$out/clicks-$stamp.csv
taps_csv=$out/taps-$stamp.csv
detector=pulsaro
[ -z "$taps" ] || detector=pulsaro+taps
[ -z "$metronome" ] || detector=pulsaro+taps+clicks
: >"$timeline"
export HOME=$work XDG_CONFIG_HOME=$work/.config XDG_CACHE_HOME=$work/.cache TMPDIR=$work

keep_pid="" rec_pid="" mpv_pid="" runner_pid=""
stop_pid() {  # ends one process started here, by its pid, and reaps it
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
cleanup() {
    for pid in "$mpv_pid" "$runner_pid" "$rec_pid" "$keep_pid"; do stop_pid "$pid"; done
    stop_sound_server
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mpris_there() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.ListNames 2>/dev/null | grep -q '"org.mpris.MediaPlayer2.mpv'
}
poll() {  # SECONDS COMMAND...
    local tries=$(($1 * 10))
    shift
    while [ "$tries" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

run_track() {  # SERVER FILE BPM OFFSET DURATION
    local server=$1 file=$2 bpm=$3 offset=$4 duration=$5
    local name=${file%.wav} track=$corpus/audio/$file
    local base=$work/$server-$name
    # The recording: low latency, so that stopping it loses little.
    parecord --device="$BENCH_SINK.monitor" --format=float32le --rate=48000 --channels=2 \
        --latency-msec=20 --file-format=wav "$base.rec.wav" 2>"$base.rec.err" &
    rec_pid=$!

    # ---- the Pulsaro runner -----------------------------------------------
    # build/bench/listen_runner --input SOURCE --seconds S --track WAV
    #     [--taps 4 --tap-error-ms 20 --bpm X --offset Y] [--metronome]
    # listens to SOURCE for S seconds and prints "t_seconds,bpm,uncertainty,
    # state" per estimate (t in seconds of its input; state listening,
    # locked or no beat), and "# music_start_s=X" once it has found where the
    # track's first sample came in its input. With --taps it taps at the true
    # beats (+- the error, at random) once the music is found, and with
    # --metronome plays its clicks into the default sink on the grid it made
    # of the taps and what it heard. It ends by itself after S seconds.
    local runner_cpu=""
    if [ "$use_runner" = yes ]; then
        local extra=()
        if [ -n "$taps" ]; then
            extra=(--taps 4 --tap-error-ms 20 --bpm "$bpm" --offset "$offset")
        fi
        if [ -n "$metronome" ]; then
            extra+=(--metronome)
        fi
        /usr/bin/time -f "%U %S %e" -o "$base.runner.time" \
            "$runner" --input "$BENCH_SINK.monitor" --seconds "$(awk -v d="$duration" 'BEGIN { print int(d + 4) }')" \
            --track "$track" "${extra[@]}" >"$base.runner.out" 2>"$base.runner.err" &
        runner_pid=$!
    fi
    # ------------------------------------------------------------------------

    sleep 0.5
    mpv --no-config --no-video --no-terminal --ao=pulse --script="$mpris_plugin" \
        --audio-device="pulse/$BENCH_SINK" "$track" >"$base.mpv.log" 2>&1 &
    mpv_pid=$!
    local mpris=yes
    poll 5 mpris_there || { mpris=no; echo "   $server $name: mpv's MPRIS name did not appear"; }
    local mpv_rc=0
    wait "$mpv_pid" || mpv_rc=$?
    mpv_pid=""
    [ "$mpv_rc" = 0 ] || echo "   $server $name: mpv ended with $mpv_rc: $(tail -n 2 "$base.mpv.log")"
    sleep 1.5
    kill -INT "$rec_pid" 2>/dev/null || true
    wait "$rec_pid" 2>/dev/null || true
    rec_pid=""

    $py "$root/bench/listen_report.py" aubio "$base.rec.wav" "$track" --bpm "$bpm" \
        --offset "$offset" --duration "$duration" --server "$server" --name "$name" \
        --out "$timeline" || echo "   $server $name: aubio not scored"

    if [ "$use_runner" = yes ]; then
        local runner_rc=0
        wait "$runner_pid" || runner_rc=$?
        runner_pid=""
        [ "$runner_rc" = 0 ] || echo "   $server $name: the runner ended with $runner_rc: $(tail -n 3 "$base.runner.err")"
        runner_cpu=$(awk '$3 > 0 { printf "%.2f", 100 * ($1 + $2) / $3 }' "$base.runner.time" 2>/dev/null || true)
        $py "$root/bench/listen_report.py" runner "$base.runner.out" --bpm "$bpm" \
            --duration "$duration" --server "$server" --name "$name" --out "$timeline" \
            --detector "$detector" ${runner_cpu:+--cpu "$runner_cpu"} ||
            echo "   $server $name: the runner not scored"
        if [ -n "$taps" ]; then
            local joined
            joined=$(sed -n 's/^# taps //p' "$base.runner.out" | head -n 1)
            echo "$server,$name,$bpm,${joined:-no run ended}" >>"$taps_csv"
            echo "   taps $server $name: ${joined:-no run ended}"
        fi
        if [ -n "$metronome" ]; then
            local words
            if words=$($py "$root/bench/listen_score.py" "$base.rec.wav" "$track" --bpm "$bpm" \
                --offset "$offset" --csv "$base.clicks.csv"); then
                echo "$server,$name,$bpm,$words" >>"$clicks_csv"
                echo "   clicks $server $name: $words"
            else
                echo "   $server $name: the clicks not scored"
            fi
        fi
    fi
    echo "$server,$name,mpris=$mpris,mpv=$mpv_rc" >>"$out/runs-$stamp.log"
    if [ -n "${BENCH_KEEP:-}" ]; then
        cp "$base".* "$out"/ 2>/dev/null || true
    fi
    rm -f "$base.rec.wav"
}

started=$(date +%s)
for server in $servers; do
    mkdir -p "$work/$server"
    if [ "$server" = pulseaudio ]; then
        start_pulseaudio "$work/$server" --bus
    else
        start_pipewire "$work/$server"
    fi
    # A null sink stalls a new stream for up to 2 s unless something keeps it running.
    pacat --playback --device="$BENCH_SINK" --format=s16le --rate=48000 --channels=2 /dev/zero &
    keep_pid=$!
    echo "== $server: $(pactl info | sed -n 's/^Server Name: //p')"
    while read -r file bpm offset duration; do
        [ -n "$file" ] || continue
        run_track "$server" "$file" "$bpm" "$offset" "$duration"
    done <<<"$tracks"
    stop_pid "$keep_pid"
    keep_pid=""
    cp "$SOUND_SERVER_LOG" "$out/$server-$stamp.log" 2>/dev/null || true
    stop_sound_server
done

echo
echo "== summary ($(($(date +%s) - started)) s): $timeline"
$py "$root/bench/listen_report.py" summary "$timeline" --tracks-csv "$out/tracks-$stamp.csv" \
    --md "$out/summary-$stamp.md"
if [ -s "$taps_csv" ]; then
    echo
    echo "== taps joined with the heard beats: $taps_csv"
    cat "$taps_csv"
fi
if [ -s "$clicks_csv" ]; then
    echo
    echo "== clicks against the true beats: $clicks_csv"
    cat "$clicks_csv"
fi

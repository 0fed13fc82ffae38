# A private sound server for the benchmarks, to be sourced:
#
#   . bench/sound_server.sh
#   start_pulseaudio DIR      # or: start_pipewire DIR
#   ... pactl, parec, PortAudio programs, mpv --ao=pulse ...
#   stop_sound_server
#
# Either server is started in the background with XDG_RUNTIME_DIR=DIR (a
# folder of this run's, mode 700), so that nothing of the user's own session
# is reached or changed, and ends with stop_sound_server, by the pids noted
# here. Both leave a null sink named $BENCH_SINK (default bench_sink; float32,
# stereo, 48 kHz) as the default sink; its monitor, $BENCH_SINK.monitor, is
# the default source's stand-in that a capture of "what the computer plays"
# reads. Exported for the clients started afterwards: XDG_RUNTIME_DIR,
# PULSE_SERVER (the Pulse protocol socket; PortAudio reaches it through ALSA's
# pulse plugin), and with PipeWire DBUS_SESSION_BUS_ADDRESS (a private
# dbus-daemon on DIR/bus, which WirePlumber needs and which an MPRIS player
# may use too).
#
#   start_pulseaudio DIR [--bus]
#                          pulseaudio -n with the null sink and the native
#                          protocol on DIR/native, nothing else loaded; with
#                          --bus a private session bus as well (for an MPRIS
#                          player), as PipeWire has
#   start_pipewire DIR     a private dbus-daemon, then pipewire, wireplumber
#                          and pipewire-pulse; the sink through pipewire-pulse
#                          (pactl load-module module-null-sink) and made the
#                          default with pactl set-default-sink
#   stop_sound_server      ends what either started, newest first, and waits
#                          for each
#   SOUND_SERVER           pulseaudio or pipewire while one runs, else empty
#   SOUND_SERVER_LOG       DIR/sound-server.log: what the servers printed
#
# BENCH_SERVER_RT=1 gives the server's threads SCHED_FIFO 20, as a desktop's
# server gets through rtkit (PulseAudio's daemon; PipeWire's pipewire and
# pipewire-pulse).
# Each start returns non-zero (with the log's tail on stderr) when the server
# does not answer within 10 s; what it had started is stopped then.

BENCH_SINK=${BENCH_SINK:-bench_sink}
SOUND_SERVER=""
SOUND_SERVER_LOG=""
_sound_server_pids=()

_sound_server_poll() {  # SECONDS COMMAND...: until it succeeds; 1 when it never did
    local tries=$(($1 * 10))
    shift
    while [ "$tries" -gt 0 ]; do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

_sound_server_failed() {  # WHAT
    echo "sound_server: $1" >&2
    tail -n 20 "$SOUND_SERVER_LOG" >&2 2>/dev/null || true
    stop_sound_server
    return 1
}

_sound_server_rt() {  # PID
    [ "${BENCH_SERVER_RT:-0}" = 1 ] || return 0
    chrt -a -f -p 20 "$1" || echo "sound_server: could not make pid $1 real-time" >&2
}

_sound_server_dir() {  # DIR: checks and exports it
    local dir=$1
    if [ -z "$dir" ] || [ ! -d "$dir" ]; then
        echo "sound_server: no such folder: '$dir'" >&2
        return 1
    fi
    if [ -n "$SOUND_SERVER" ]; then
        echo "sound_server: $SOUND_SERVER is running already" >&2
        return 1
    fi
    chmod 700 "$dir"
    export XDG_RUNTIME_DIR=$dir
    SOUND_SERVER_LOG=$dir/sound-server.log
    : >"$SOUND_SERVER_LOG"
    _sound_server_env_for "$dir"
}

# The servers' environment: no configuration but the system's (an empty
# config home) and their state (WirePlumber's chosen defaults, PulseAudio's
# cookie) in DIR. Used as `env "${_sound_server_env[@]}" SERVER &`, so that
# $! is the server's own pid.
_sound_server_env_for() {  # DIR
    mkdir -p "$1/.server-config" "$1/.server-state"
    _sound_server_env=(HOME="$1" XDG_CONFIG_HOME="$1/.server-config"
        XDG_STATE_HOME="$1/.server-state")
}

_sink_is_default() {
    pactl info 2>/dev/null | grep -qx "Default Sink: $BENCH_SINK"
}

_start_session_bus() {  # DIR
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$1/bus" \
        >>"$SOUND_SERVER_LOG" 2>&1 &
    _sound_server_pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$1/bus
    _sound_server_poll 10 test -S "$1/bus" || { _sound_server_failed "dbus-daemon did not start"; return 1; }
}

start_pulseaudio() {  # DIR [--bus]
    local dir=$1
    _sound_server_dir "$dir" || return 1
    export PULSE_SERVER=unix:$dir/native
    # Float samples, so that a recording of the monitor holds what was played
    # unquantised; no rewinds, so what was written stays written.
    env "${_sound_server_env[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        -L "module-null-sink sink_name=$BENCH_SINK rate=48000 channels=2 format=float32le norewinds=1" \
        -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
        >>"$SOUND_SERVER_LOG" 2>&1 &
    _sound_server_pids+=($!)
    SOUND_SERVER=pulseaudio
    if [ "${BENCH_SERVER_RT:-0}" = 1 ]; then
        sleep 0.3
        _sound_server_rt "${_sound_server_pids[-1]}"
    fi
    _sound_server_poll 10 pactl info || { _sound_server_failed "PulseAudio did not start"; return 1; }
    # The only sink is the default already; said so anyway, as for PipeWire.
    pactl set-default-sink "$BENCH_SINK" >>"$SOUND_SERVER_LOG" 2>&1 || true
    _sound_server_poll 5 _sink_is_default ||
        { _sound_server_failed "PulseAudio: $BENCH_SINK is not the default sink"; return 1; }
    if [ "${2:-}" = --bus ]; then
        _start_session_bus "$dir" || return 1
    fi
}

start_pipewire() {  # DIR
    local dir=$1
    _sound_server_dir "$dir" || return 1
    SOUND_SERVER=pipewire
    # WirePlumber will not run without a session bus: a private one.
    _start_session_bus "$dir" || return 1
    env "${_sound_server_env[@]}" pipewire >>"$SOUND_SERVER_LOG" 2>&1 &
    _sound_server_pids+=($!)
    _sound_server_rt "${_sound_server_pids[-1]}"
    _sound_server_poll 10 test -S "$dir/pipewire-0" || { _sound_server_failed "pipewire did not start"; return 1; }
    env "${_sound_server_env[@]}" wireplumber >>"$SOUND_SERVER_LOG" 2>&1 &
    _sound_server_pids+=($!)
    env "${_sound_server_env[@]}" pipewire-pulse >>"$SOUND_SERVER_LOG" 2>&1 &
    _sound_server_pids+=($!)
    _sound_server_rt "${_sound_server_pids[-1]}"
    export PULSE_SERVER=unix:$dir/pulse/native
    _sound_server_poll 10 pactl info || { _sound_server_failed "pipewire-pulse did not answer"; return 1; }
    pactl load-module module-null-sink sink_name="$BENCH_SINK" rate=48000 channels=2 \
        format=float32le >>"$SOUND_SERVER_LOG" 2>&1 ||
        { _sound_server_failed "pipewire-pulse: the null sink could not be made"; return 1; }
    # Until WirePlumber is up the default cannot be set: tried again until it holds.
    local tries=50
    while ! _sink_is_default; do
        pactl set-default-sink "$BENCH_SINK" >>"$SOUND_SERVER_LOG" 2>&1 || true
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { _sound_server_failed "PipeWire: $BENCH_SINK is not the default sink"; return 1; }
        sleep 0.2
    done
}

_sound_server_gone() {  # PID: ended (a zombie until waited for counts)
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null) || return 0
    [[ $state == Z* ]]
}

stop_sound_server() {
    local i pid
    for ((i = ${#_sound_server_pids[@]} - 1; i >= 0; i--)); do
        pid=${_sound_server_pids[i]}
        kill "$pid" 2>/dev/null || true
        # One that does not end on SIGTERM within 5 s is killed.
        _sound_server_poll 5 _sound_server_gone "$pid" || kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    _sound_server_pids=()
    SOUND_SERVER=""
}

#!/usr/bin/env bash
# Faults a user or another account can set up around the program, each run
# against the real program in a private X server:
# 1. the quick-save file is a FIFO: the save is refused with an error, nothing
#    goes into the pipe and the window keeps answering;
# 2. another account planted the quick-save file as a symbolic link to one of
#    ours in a shared folder: refused, our file is untouched;
# 3. another account made the single-instance meeting place and answers on its
#    socket: the program starts its own window and hands that account nothing;
# 4. a settings save killed mid-write left its temporary file: the next start
#    removes it, but not one a live save still holds;
# 5. with "minimize to tray" on (under a window manager with a tray), starting
#    the program again brings the window back out of the tray, every time.
# The second account is "nobody"; run as root.
set -euo pipefail
program=${1:?usage: run_faults.sh path/to/pulsaro}
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root for the second account"; exit 77; }
work=$(mktemp -d)
chmod 755 "$work"
export TMPDIR=$work HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work/run
export JACK_NO_START_SERVER=1
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
mkdir -m 700 "$XDG_RUNTIME_DIR"
settings="$XDG_CONFIG_HOME/Orvik software/Pulsaro"
shared=$work/shared
mkdir -m 1777 "$shared"
as_other() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# fail and wait_for, shared with the end-to-end tests.
. "$(dirname "$0")/../e2e/common.sh"

visible() { [ -n "$(xdotool search --onlyvisible --name "$1" 2>/dev/null)" ]; }
windows() { xdotool search --onlyvisible --classname '^pulsaro$' 2>/dev/null | wc -l; }
dismiss_error() {
    wait_for 5 "an error box ($1)" visible '^Error'
    xdotool key Return
    wait_for 5 "the error box to close" ! visible '^Error'
}

exec 3<>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 5 "Xvfb to start" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
if command -v icewm >/dev/null; then
    icewm >"$work/wm.log" 2>&1 &
    pids+=($!)
    wait_for 10 "icewm to start" eval 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window'
fi

mkdir -p "$settings"
cat >"$settings/6.5.reg" <<EOF
[Software\\Orvik software\\Pulsaro\\6.5]
"FileName"="$shared/beats.csv"
"MinimizeToTray"=dword:00000001
EOF
# --- 4 (set up before the start): leftovers of a killed save ---------------
echo "half a save" >"$settings/.6.5.reg.Ab12Cd"
echo "a save in progress" >"$settings/.6.5.reg.Ef34Gh"
# The subshell becomes the sleep that holds the lock, so $! stops it.
(
    exec 9>>"$settings/.6.5.reg.Ef34Gh" >/dev/null 2>&1
    flock 9
    exec sleep 60
) &
pids+=($!)
wait_for 5 "the lock to be held" ! flock -n "$settings/.6.5.reg.Ef34Gh" true

"$program" >"$work/app.log" 2>&1 &
app=$!
pids+=($app)
wait_for 10 "the window" visible '^Pulsaro$'
for candidate in $(xdotool search --onlyvisible --classname '^pulsaro$'); do
    [ "$(xdotool getwindowname "$candidate")" = Pulsaro ] && window=$candidate
done
xdotool windowfocus --sync "$window"
[ ! -e "$settings/.6.5.reg.Ab12Cd" ] || fail "the killed save's temporary file is still there"
[ -e "$settings/.6.5.reg.Ef34Gh" ] || fail "a temporary file a live save holds was removed"
echo "ok 4: a killed save's leftover removed, a live one kept"

xdotool key --delay 500 space space space space

# --- 1: the quick-save file is a FIFO -------------------------------------
mkfifo "$shared/Q_beats.csv"
xdotool key F2
dismiss_error "QuickSave into a FIFO"
data=$(timeout 1 cat "$shared/Q_beats.csv" || true)
[ -z "$data" ] || fail "the record went into the FIFO: $data"
kill -0 "$app" || fail "the program ended"
echo "ok 1: QuickSave into a FIFO refused, the window answers"

# --- 2: a symbolic link planted by another account ------------------------
rm "$shared/Q_beats.csv"
echo "mine" >"$work/private.txt"
as_other ln -s "$work/private.txt" "$shared/Q_beats.csv"
xdotool key F2
dismiss_error "QuickSave through another account's link"
[ "$(cat "$work/private.txt")" = "mine" ] || fail "the file behind the planted link changed"
echo "ok 2: QuickSave through a planted link refused, the file behind it untouched"

# --- 3: another account made the meeting place ----------------------------
# Without a runtime folder the copies meet in <tmp>/pulsaro-<uid>; here the
# other account made that folder first, with a block naming its own process
# and a socket that answers every hand-over as read.
cat >"$work/squatter.py" <<'EOF'
import os, socket, struct, sys
folder = sys.argv[1]
os.mkdir(folder, 0o777); os.chmod(folder, 0o777)
pid = os.getpid()
with open(os.path.join(folder, "pulsaro.instance"), "wb") as block:
    block.write(struct.pack("<ii", pid, -1) + bytes(3010))
os.chmod(os.path.join(folder, "pulsaro.instance"), 0o666)
server = socket.socket(socket.AF_UNIX)
server.bind(os.path.join(folder, "pulsaro.%d.socket" % pid))
os.chmod(os.path.join(folder, "pulsaro.%d.socket" % pid), 0o777)
server.listen()
print("ready", flush=True)
while True:
    peer, _ = server.accept()
    print("got", peer.recv(4096), flush=True)
    peer.sendall(b"R")
    peer.close()
EOF
# setpriv itself, not a function around it, so that $! is the squatter.
setpriv --reuid=65534 --regid=65534 --clear-groups -- \
    /usr/bin/python3 "$work/squatter.py" "$shared/pulsaro-0" >"$work/squatter.log" 2>&1 &
pids+=($!)
wait_for 5 "the squatter to start" grep -q ready "$work/squatter.log"
before=$(windows)
env -u XDG_RUNTIME_DIR TMPDIR="$shared" "$program" "$work/secret.csv" >"$work/app3.log" 2>&1 &
second=$!
pids+=($second)
wait_for 10 "the program to start its own window" eval '[ "$(windows)" -gt "$before" ]'
kill -0 "$second" || fail "the program ended, handing over to the other account"
! grep -q got "$work/squatter.log" || fail "the other account got: $(cat "$work/squatter.log")"
kill "$second"
wait_for 5 "the second window to close" eval '[ "$(windows)" -eq "$before" ]'
echo "ok 3: the other account's meeting place ignored, its own window started"

# --- 5: out of the tray, every time ---------------------------------------
if command -v icewm >/dev/null; then
    for try in $(seq 10); do
        xdotool windowminimize "$window"
        wait_for 5 "try $try: the window to go to the tray" ! visible '^Pulsaro$'
        "$program" >>"$work/app5.log" 2>&1 || fail "try $try: the second start failed"
        wait_for 5 "try $try: the window to come back on a second start" visible '^Pulsaro$'
    done
    echo "ok 5: the window came back out of the tray 10 times of 10"
else
    echo "skip 5: no window manager with a tray (icewm) installed"
fi

kill -0 "$app" || fail "the program ended"
echo "PASS"

#!/usr/bin/env bash
# Runs the built program in a private X server twice, once at the normal
# scale and once with QT_SCALE_FACTOR=2, and checks that the doubled window
# is drawn anew at the higher resolution rather than magnified:
# 1. the 2x window is twice the 1x window's size, give or take 2 pixels;
# 2. the 2x picture differs clearly from the 1x picture magnified by pixel
#    repetition (text and curves are rendered sharp, not blocky);
# 3. the 2x picture has at least as many distinct colours as the 1x one
#    (smooth edges, not only copies of the 1x pixels).
# Screenshots are kept in the folder given as $2, else in the test's
# temporary folder (removed at the end).
set -euo pipefail
. "$(dirname "$0")/common.sh"

program=${1:?usage: run_hidpi_e2e.sh path/to/pulsaro [folder for screenshots]}
work=$(mktemp -d)
shots=${2:-$work}
mkdir -p "$shots"
export TMPDIR=$work HOME=$work XDG_CONFIG_HOME=$work/.config XDG_RUNTIME_DIR=$work
export JACK_NO_START_SERVER=1
unset QT_QPA_PLATFORM WAYLAND_DISPLAY QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS
unset QT_AUTO_SCREEN_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING QT_FONT_DPI

xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

for tool in Xvfb xdotool import compare convert identify; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done

start_xvfb 1280x1024

# True once the window shows a painted picture (more than one colour) that,
# size included, has stayed the same for half a second of looks; the last
# look is in $work/look.png. A window is black until its first paint.
settled_look=""
settled_since=0
window_settled() {
    local geometry picture
    import -window "$window" "$work/look.png" 2>/dev/null || return 1
    geometry=$(xdotool getwindowgeometry "$window" 2>/dev/null | tr '\n' ' ') || return 1
    # The number of colours and a hash of the pixels.
    picture=$(identify -format '%k %#' "$work/look.png" 2>/dev/null) || return 1
    if [ "$geometry $picture" != "$settled_look" ]; then
        settled_look="$geometry $picture"
        settled_since=$(now_us)
        return 1
    fi
    [ "${picture%% *}" -gt 1 ] && [ $(($(now_us) - settled_since)) -ge 500000 ]
}

# Starts the program with the given scale, waits for its window, notes its
# size as "width height" in $work/size-<scale> and its picture in
# $shots/pulsaro-<scale>x.png, then ends it.
run_at_scale() {
    local scale=$1 geometry
    QT_SCALE_FACTOR=$scale "$program" >"$work/app.log" 2>&1 &
    app_pid=$!
    wait_for_window "at scale $scale"
    # The first paint and any late resize.
    settled_look=""
    wait_for 30 "the window at scale $scale to be painted and keep its picture and size" \
        window_settled
    geometry=$(xdotool getwindowgeometry "$window")
    echo "$geometry" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p' >"$work/size-$scale"
    [ -s "$work/size-$scale" ] || fail "no geometry at scale $scale: $geometry"
    import -window "$window" "$shots/pulsaro-${scale}x.png"
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    # The next start must not find this one's window.
    wait_for 10 "the window at scale $scale to go after the program ended" ! window_shown
}

run_at_scale 1
run_at_scale 2

read -r w1 h1 <"$work/size-1"
read -r w2 h2 <"$work/size-2"
near() { [ $(($1 - $2)) -le 2 ] && [ $(($2 - $1)) -le 2 ]; }
near "$w2" $((2 * w1)) && near "$h2" $((2 * h1)) ||
    fail "the 2x window is ${w2}x${h2}, not twice ${w1}x${h1}"

# The 1x picture magnified by pixel repetition, cut to the 2x picture's size.
convert "$shots/pulsaro-1x.png" -filter point -resize 200% \
    -extent "${w2}x${h2}" "$shots/pulsaro-1x-magnified.png"
total=$((w2 * h2))
# compare exits 1 when the pictures differ; the count goes to stderr.
differing=$(compare -metric AE -fuzz 10% "$shots/pulsaro-2x.png" "$shots/pulsaro-1x-magnified.png" \
    null: 2>&1 || true)
differing=${differing%% *}
differing=${differing%%.*}
[[ "$differing" =~ ^[0-9]+$ ]] || fail "compare gave no pixel count: $differing"
# Sharp text and curves change a few percent of the pixels; a magnified
# picture changes none.
[ $((differing * 100)) -ge $((total * 2)) ] ||
    fail "the 2x picture is almost the 1x picture magnified ($differing of $total pixels differ)"

colours1=$(identify -format '%k' "$shots/pulsaro-1x.png")
colours2=$(identify -format '%k' "$shots/pulsaro-2x.png")
[ "$colours2" -ge "$colours1" ] ||
    fail "the 2x picture has fewer colours ($colours2) than the 1x picture ($colours1)"

echo "hidpi e2e: 1x window ${w1}x${h1}, 2x window ${w2}x${h2};" \
    "$differing of $total pixels differ from the magnified 1x picture;" \
    "colours 1x $colours1, 2x $colours2; pictures in $shots"

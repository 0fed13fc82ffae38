#!/usr/bin/env bash
# Decoding cost: CPU seconds per minute of audio to decode MP3, AAC (M4A),
# Opus and FLAC to 22050 Hz mono (the analysis rate), peak memory decoding a
# three-hour MP3 against a one-minute one, and the time to list a folder of
# 10 000 files. The budget for decoding and analysis together is 0.6 CPU s
# per minute of audio.
#
# Usage: bench/decode_bench.sh [BUILD_DIR (build/release)] [MINUTES (10)]
# Builds the decode_bench target in BUILD_DIR (configured with the release
# preset if it is not yet). Needs the ffmpeg tool and /usr/bin/time. The test
# files (stereo pink noise at 44.1 kHz; the three-hour one about 170 MB) are
# made in a private folder under /tmp and deleted at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
minutes=${2:-10}
command -v ffmpeg > /dev/null || { echo "the ffmpeg tool is not installed"; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time (package time) is not installed"; exit 1; }
if [ ! -f "$build/CMakeCache.txt" ]; then
    (cd "$root" && cmake --preset release > /dev/null)
fi
cmake --build "$build" -j1 --target decode_bench > /dev/null
bench=$build/decode_bench

work=$(mktemp -d /tmp/pulsaro-decode-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
make_audio() {  # seconds, then ffmpeg's output options and file
    local seconds=$1
    shift
    ffmpeg -nostdin -v error -y -f lavfi -i "anoisesrc=d=$seconds:c=pink:a=0.25" -ac 2 -ar 44100 "$@"
}
# user+system CPU seconds and peak resident kB of one run
measure() {
    /usr/bin/time -f "%U %S %M" -o "$work/time" "$bench" 22050 "$1" > /dev/null
    read -r user system peak < "$work/time"
    echo "$user $system $peak"
}

seconds=$((minutes * 60))
echo "CPU seconds per minute of audio, decoding $minutes min to 22050 Hz mono:"
for format in "mp3:-c:a libmp3lame -b:a 192k" "m4a:-c:a aac -b:a 192k" "opus:-c:a libopus -b:a 128k -ar 48000" \
            "flac:-c:a flac"; do
    ext=${format%%:*}
    read -ra options <<< "${format#*:}"
    make_audio "$seconds" "${options[@]}" "$work/audio.$ext"
    read -r user system peak < <(measure "$work/audio.$ext")
    awk -v e="$ext" -v u="$user" -v s="$system" -v m="$minutes" -v p="$peak" \
        'BEGIN { printf "  %-5s %.3f CPU s/min  (user %.2f s, system %.2f s, peak %d MB)\n",
                 e, (u + s) / m, u, s, p / 1024 }'
    rm -f "$work/audio.$ext"
done

echo "Peak memory, MP3 at 128 kb/s:"
for length in 60 10800; do
    make_audio "$length" -c:a libmp3lame -b:a 128k "$work/long.mp3"
    read -r user system peak < <(measure "$work/long.mp3")
    awk -v l="$length" -v u="$user" -v s="$system" -v p="$peak" \
        'BEGIN { printf "  %5.0f min: peak resident %.1f MB, %.1f CPU s\n", l / 60, p / 1024, u + s }'
    rm -f "$work/long.mp3"
done

mkdir "$work/crate"
(cd "$work/crate" && seq -f "%05g.mp3" 10000 | xargs touch)
/usr/bin/time -f "%e %U %S" -o "$work/time" "$bench" walk "$work/crate" > "$work/walk"
read -r elapsed user system < "$work/time"
echo "Listing a folder of 10 000 files: $(cat "$work/walk") in $elapsed s (CPU $user + $system s)"

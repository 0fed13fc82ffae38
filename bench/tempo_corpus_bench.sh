#!/bin/sh
# Tempo and beats of the tempo corpus against the peer tools, and the memory
# of a long input.
#
#   bench/tempo_corpus_bench.sh            # score the corpus (RATE=11025 by default)
#   bench/tempo_corpus_bench.sh --encoded  # the same tracks as MP3, AAC (M4A) and Opus
#   bench/tempo_corpus_bench.sh --hours 3  # peak memory while 3 h of audio are fed
#
# CORPUS (default /tmp/pulsaro-tempo-corpus) holds audio/*.wav and manifest.csv
# as /work/shared/tempo_corpus/make_corpus.sh renders them; MANIFEST overrides the
# manifest to score against, and only its tracks are analysed. The scorer needs
# python3-mir-eval; the encoded run needs the ffmpeg tool.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${CORPUS:-/tmp/pulsaro-tempo-corpus}
tools=${TOOLS:-/work/shared/tempo_corpus}
rate=${RATE:-11025}
out=${OUT:-$root/build/bench/tempo_corpus}
manifest=${MANIFEST:-$corpus/manifest.csv}

cd "$root"
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DPULSARO_BUILD_TESTS=OFF -G Ninja >/dev/null
cmake --build build/bench --target tempo_corpus_runner >/dev/null
runner=$root/build/bench/tempo_corpus_runner

if [ "${1:-}" = "--hours" ]; then
    /usr/bin/time -v "$runner" --hours "${2:-3}" "$rate" 2>&1 |
        grep -E "^fed|Maximum resident|User time|Elapsed"
    exit 0
fi

# The manifest's tracks, by name, in the corpus folder.
tracks=$(/usr/bin/python3 -c 'import csv, sys
for r in csv.DictReader(open(sys.argv[1])): print(r["file"])' "$manifest")
mkdir -p "$out"

if [ "${1:-}" != "--encoded" ]; then
    # shellcheck disable=SC2086
    "$runner" "$out/pulsaro.csv" "$out/beats" "$rate" $(for t in $tracks; do
        echo "$corpus/audio/$t"; done)
    /usr/bin/python3 "$tools/score.py" "$out/pulsaro.csv" "$tools"/peer_results/*.csv \
        --manifest "$manifest" --md
    exit 0
fi

# Each track through a lossy encoder and back through the program's decoder:
# the encoders' start delays (LAME's, AAC priming, Opus pre-skip) must not
# move the beats, so the phase and bias columns should match the WAV row's.
# The scorer matches tracks by file name, so the rows get the WAV's back.
enc=$(mktemp -d "${TMPDIR:-/tmp}/pulsaro-encoded.XXXXXX")
trap 'rm -rf "$enc"' EXIT
for format in mp3 m4a opus; do
    mkdir -p "$enc/$format"
    case $format in
        mp3) codec="-c:a libmp3lame -b:a 192k" ;;
        m4a) codec="-c:a aac -b:a 192k" ;;
        opus) codec="-c:a libopus -b:a 128k" ;;
    esac
    for t in $tracks; do
        # shellcheck disable=SC2086
        ffmpeg -nostdin -loglevel error -y -i "$corpus/audio/$t" -vn $codec \
            "$enc/$format/${t%.wav}.$format"
    done
done
"$runner" "$out/pulsaro.csv" "$out/beats" "$rate" $(for t in $tracks; do
    echo "$corpus/audio/$t"; done)
set -- "$out/pulsaro.csv"
for format in mp3 m4a opus; do
    # shellcheck disable=SC2046
    "$runner" "$out/pulsaro-$format.csv" "$out/beats-$format" "$rate" \
        $(for t in $tracks; do echo "$enc/$format/${t%.wav}.$format"; done)
    sed -i "s/^\([^,]*\)\.$format,/\1.wav,/" "$out/pulsaro-$format.csv"
    set -- "$@" "$out/pulsaro-$format.csv"
done
/usr/bin/python3 "$tools/score.py" "$@" --manifest "$manifest" --md

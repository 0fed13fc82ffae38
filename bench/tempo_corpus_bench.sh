#!/bin/sh
# Tempo and beats of the tempo corpus against the peer tools, and the memory
# of a long input.
#
#   bench/tempo_corpus_bench.sh            # score the corpus (RATE=11025 by default)
#   bench/tempo_corpus_bench.sh --hours 3  # peak memory while 3 h of audio are fed
#
# CORPUS (default /tmp/pulsaro-tempo-corpus) holds audio/*.wav and manifest.csv
# as /work/shared/tempo_corpus/make_corpus.sh renders them; MANIFEST overrides the
# manifest to score against. The scorer needs python3-mir-eval.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${CORPUS:-/tmp/pulsaro-tempo-corpus}
tools=${TOOLS:-/work/shared/tempo_corpus}
rate=${RATE:-11025}
out=${OUT:-$root/build/release/tempo_corpus}
manifest=${MANIFEST:-$corpus/manifest.csv}

cd "$root"
cmake --preset release >/dev/null
cmake --build build/release --target tempo_corpus_runner >/dev/null
runner=$root/build/release/tempo_corpus_runner

if [ "${1:-}" = "--hours" ]; then
    /usr/bin/time -v "$runner" --hours "${2:-3}" "$rate" 2>&1 |
        grep -E "^fed|Maximum resident|User time|Elapsed"
    exit 0
fi

mkdir -p "$out"
"$runner" "$out/pulsaro.csv" "$out/beats" "$rate" "$corpus"/audio/*.wav
/usr/bin/python3 "$tools/score.py" "$out/pulsaro.csv" "$tools"/peer_results/*.csv \
    --manifest "$manifest" --md

#!/usr/bin/env bash
# Builds the fuzz targets in build/fuzz and runs each for FUZZ_SECONDS
# (default 20) on a copy of its seed corpus, so the repository's corpus stays
# as it is. Crash inputs go to build/fuzz/artifacts/. Exits non-zero when a
# target fails.
#   tests/fuzz/run.sh [target...]     (make fuzz FUZZ_SECONDS=20)
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds="${FUZZ_SECONDS:-20}"
build_dir="${FUZZ_BUILD_DIR:-build/fuzz}"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(settings_reader number_parse result_tail)
fi

cmake -S tests/fuzz -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}" >/dev/null
cmake --build "$build_dir"

# Corpus copies and the targets' scratch files, on tmpfs when there is one.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  work="$(mktemp -d /dev/shm/pulsaro-fuzz.XXXXXX)"
else
  work="$(mktemp -d)"
fi
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp"
export TMPDIR="$work/tmp"
mkdir -p "$build_dir/artifacts"

status=0
for target in "${targets[@]}"; do
  corpus="$work/$target"
  mkdir -p "$corpus"
  cp tests/fuzz/corpus/"$target"/* "$corpus"/
  echo "== fuzz_$target: ${seconds}s"
  if ! "$build_dir/fuzz_$target" "$corpus" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$build_dir/artifacts/$target-" \
      2>"$work/$target.log"; then
    status=1
    tail -n 60 "$work/$target.log"
    echo "== fuzz_$target FAILED (input saved under $build_dir/artifacts/)"
    continue
  fi
  # The last status line (executions, coverage) and the final statistics.
  grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$work/$target.log" | tail -n 1 || true
  grep -E '^stat::' "$work/$target.log" || true
done
exit "$status"

#!/usr/bin/env bash
# The metronome end-to-end run once more with both cores busy (stress-ng on
# every CPU, started and stopped by its pid): the clicks must still come one
# every 500 ms. Skips (exit 0) when stress-ng is not installed.
set -euo pipefail
program=${1:?usage: run_metronome_busy_e2e.sh path/to/pulsaro}
if ! command -v stress-ng >/dev/null 2>&1; then
    echo "SKIP: stress-ng is not installed (scripts/install-deps installs it)"
    exit 0
fi
# A time limit too, in case this script is killed without its cleanup.
stress-ng --cpu "$(nproc)" --timeout 300s --quiet &
stress_pid=$!
trap 'kill "$stress_pid" 2>/dev/null || true; wait "$stress_pid" 2>/dev/null || true' EXIT
"$(dirname "$0")/run_metronome_e2e.sh" "$program"

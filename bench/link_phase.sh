#!/usr/bin/env bash
# Phase and tempo accuracy of the Link session: publishes a tapped grid N
# times at tempos from 90 to 180 BPM and reads each back from a peer process
# (bench/link/link_phase.cpp, tests/studio/link_peer.cpp), in a private
# network namespace with loopback alone, so nothing reaches the real network.
# Usage: bench/link_phase.sh [build-dir (build/release)] [N (20)]
# With the default build dir it configures the release preset when needed.
# Exits 77 where no network namespace can be made (unshare -n).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-}
if [ -z "$build" ]; then
    build=$root/build/release
    [ -f "$build/build.ninja" ] || (cd "$root" && cmake --preset release >&2)
fi
cmake --build "$build" -j1 --target link_phase link_peer >&2
exec "$root/tests/studio/run_link_tests.sh" "$build/link_phase" "$build/link_peer" "${2:-20}"

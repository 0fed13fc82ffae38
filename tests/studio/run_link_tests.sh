#!/bin/sh
# Runs a command in a private network namespace that has only loopback, with
# multicast routed to it, so that Link finds peers on this machine and nowhere
# else. Exits 77 (skipped) where no network namespace can be made.
# Usage: run_link_tests.sh program [arguments...]
set -eu
if [ "${PULSARO_PRIVATE_NETNS:-}" != 1 ]; then
    for unshare in "unshare -n" "unshare -rn"; do
        if $unshare true 2>/dev/null; then
            PULSARO_PRIVATE_NETNS=1 exec $unshare "$0" "$@"
        fi
    done
    echo "skipped: no private network namespace (unshare -n is not permitted)"
    exit 77
fi
PATH=$PATH:/usr/sbin:/sbin
if ! command -v ip >/dev/null 2>&1; then
    echo "ip (iproute2) is missing: scripts/install-deps installs it" >&2
    exit 1
fi
# Loopback alone, or Link could reach a real network.
if [ "$(ip -o link show | grep -cv ': lo:' || true)" != 0 ]; then
    echo "not a private network namespace" >&2
    exit 1
fi
ip link set lo up
ip route add 224.0.0.0/4 dev lo
exec "$@"

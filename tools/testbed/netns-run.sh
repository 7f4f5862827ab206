#!/bin/sh
# Runs a test command inside a fresh network namespace that holds nothing but a
# loopback interface, so the discovery library it starts cannot reach any real
# network. Needs root (or the right to make namespaces); elsewhere the test is
# reported as skipped (exit status 77), never run in the host's own namespace.
set -u

if [ "$#" -eq 0 ]; then
    echo "usage: $0 COMMAND [ARG...]" >&2
    exit 2
fi

skip() {
    echo "SKIPPED: needs root for an isolated network namespace"
    echo "reason: $1" >&2
    exit 77
}

[ "$(id -u)" -eq 0 ] || skip "not root"
command -v unshare >/dev/null 2>&1 || skip "no unshare"
command -v ip >/dev/null 2>&1 || skip "no ip (iproute2)"
# Containers may refuse new namespaces even to root.
unshare -n -- true 2>/dev/null || skip "unshare -n refused"

exec unshare -n -- sh -c 'ip link set lo up && exec "$@"' sh "$@"

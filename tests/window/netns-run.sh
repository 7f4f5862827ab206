#!/bin/sh
# Runs a test that starts the discovery library inside a new, empty network
# namespace: only a loopback interface that is down, so its broadcast and
# multicast searches fail with "no route" instead of reaching a real network.
# Where such a namespace cannot be made (not root, no unshare), the test is
# skipped (exit 77) rather than run on the machine's own network.
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null 2>&1 || ! unshare -n true 2>/dev/null; then
  echo "SKIP: $1 needs a private network namespace (root and unshare -n); not running it on the real network"
  exit 77
fi
exec unshare -n -- "$@"

#!/usr/bin/env bash
# Sets everything up and starts nasfinder: the window by default, or the headless
# scan command with --scan (its arguments follow: ./run.sh --scan --json).
# ./run.sh --setup installs what is missing and builds, and runs nothing: for a
# machine that is set up while it is online and used where it is not. It also
# installs what the README's sandbox recipes need (tools/lan-sandbox, xvfb-run).
# Building and running need none of the test tools: the tests are configured
# only by ./test.sh (CMake option NASFINDER_BUILD_TESTS, off by default).
set -euo pipefail
cd "$(dirname "$0")"
export LANG=${LANG:-C.UTF-8}

. tools/deps.sh
packages=$NASFINDER_BUILD_PACKAGES
if [ "${1:-}" = --setup ]; then
  packages="$packages $NASFINDER_SANDBOX_PACKAGES"
fi
# shellcheck disable=SC2086
nasfinder_install_packages $packages >&2

if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build build -j "$jobs" --target nasfinder-scan >&2
window=no
if grep -q '^NASFINDER_BUILD_WINDOW:BOOL=ON' build/CMakeCache.txt; then
  window=yes
  cmake --build build -j "$jobs" --target nasfinder >&2
fi

case "${1:-}" in
  --setup)
    echo "nasfinder: set up; start it with ./run.sh (the window) or ./run.sh --scan" >&2
    exit 0
    ;;
  --scan)
    shift
    exec build/src/nasfinder-scan "$@"
    ;;
esac
# A binary left from an earlier configuration is not this build's window.
if [ "$window" != yes ]; then
  echo "nasfinder: the window is not built here (NASFINDER_BUILD_WINDOW=OFF); use ./run.sh --scan" >&2
  exit 2
fi
exec build/src/nasfinder "$@"

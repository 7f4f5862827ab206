#!/usr/bin/env bash
# Sets everything up and starts nasfinder: the window by default, or the headless
# scan command with --scan (its arguments follow: ./run.sh --scan --json).
set -euo pipefail
cd "$(dirname "$0")"
export LANG=${LANG:-C.UTF-8}

. tools/deps.sh
# shellcheck disable=SC2086
nasfinder_install_packages $NASFINDER_BUILD_PACKAGES >&2

if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target nasfinder-scan >&2
if grep -q '^NASFINDER_BUILD_WINDOW:BOOL=ON' build/CMakeCache.txt; then
  cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target nasfinder >&2
fi

if [ "${1:-}" = "--scan" ]; then
  shift
  exec build/src/nasfinder-scan "$@"
fi
if [ ! -x build/src/nasfinder ]; then
  echo "nasfinder: the window is not built here (NASFINDER_BUILD_WINDOW=OFF); use ./run.sh --scan" >&2
  exit 2
fi
exec build/src/nasfinder "$@"

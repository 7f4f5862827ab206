#!/usr/bin/env bash
# Sets everything up and starts nasfinder: the window by default, or the headless
# scan command with --scan (its arguments follow: ./run.sh --scan --json).
# ./run.sh --setup installs what is missing and builds, and runs nothing: for a
# machine that is set up while it is online and used where it is not. It also
# installs what the README's sandbox recipes need (tools/lan-sandbox, xvfb-run).
# Building and running need none of the test tools: the tests are configured
# only by ./test.sh (CMake option NASFINDER_BUILD_TESTS, off by default).
# The build is quiet: CMake's output goes to build/run-build.log, and a failed
# build shows the end of it.
set -euo pipefail
cd "$(dirname "$0")"
export LANG=${LANG:-C.UTF-8}

# What each way of running builds: each program with the broadcast helper it starts.
SCAN_TARGETS="nasfinder-scan nasfinder-broadcast"
WINDOW_TARGETS="nasfinder nasfinder-broadcast"
BUILD_LOG=build/run-build.log

mode=window
case "${1:-}" in
  --setup) mode=setup ;;
  --scan) mode=scan; shift ;;
esac

# Why no platform that Qt would try for the window can open, as the window
# itself judges it (-platform, else QT_QPA_PLATFORM, else xcb, Wayland first in
# a Wayland session); nothing when one may.
missing_graphical_session() {
  local platforms="" display="" previous="" arg platform variable lacking=""
  for arg in "$@"; do
    case $previous in
      -platform | --platform) platforms=$arg ;;
      -display | --display) display=$arg ;;
    esac
    previous=$arg
  done
  [ -n "$platforms" ] || platforms=${QT_QPA_PLATFORM:-}
  if [ -z "$platforms" ]; then
    if [ "${XDG_SESSION_TYPE:-}" = wayland ]; then platforms="wayland;xcb"; else platforms=xcb; fi
  fi
  local IFS=';'
  for platform in $platforms; do
    case ${platform%%:*} in
      '') continue ;;
      xcb*)
        if [ -n "$display" ] || [ -n "${DISPLAY:-}" ]; then return 0; fi
        variable=DISPLAY ;;
      wayland*)
        if [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${WAYLAND_SOCKET:-}" ] ||
          { [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -e "$XDG_RUNTIME_DIR/wayland-0" ]; }; then
          return 0
        fi
        variable=WAYLAND_DISPLAY ;;
      *) return 0 ;;
    esac
    case " $lacking " in *" $variable "*) ;; *) lacking="${lacking:+$lacking }$variable" ;; esac
  done
  case $lacking in
    '') ;;
    *' '*) echo "neither ${lacking% *} nor ${lacking#* } is set" ;;
    *) echo "$lacking is not set" ;;
  esac
}

# Said before anything is installed or built, in the window's own words.
if [ "$mode" = window ]; then
  why=$(missing_graphical_session "$@")
  if [ -n "$why" ]; then
    echo "nasfinder: the window needs a graphical session ($why); without one, search with" \
      "nasfinder-scan, or ./run.sh --scan in the source tree" >&2
    exit 3
  fi
fi

. tools/deps.sh
packages=$NASFINDER_BUILD_PACKAGES
if [ "$mode" = setup ]; then
  packages="$packages $NASFINDER_SANDBOX_PACKAGES"
fi
# shellcheck disable=SC2086
nasfinder_install_packages $packages >&2

jobs=$(nproc 2>/dev/null || echo 2)
# build_quietly STEP COMMAND...: the command's output goes to the log; on a
# terminal one line says what is being done while it runs.
build_quietly() {
  local step=$1
  shift
  [ -t 2 ] && printf '%s (log: %s) ...' "$step" "$BUILD_LOG" >&2
  if ! "$@" >>"$BUILD_LOG" 2>&1; then
    [ -t 2 ] && printf '\n' >&2
    tail -n 40 "$BUILD_LOG" >&2
    echo "nasfinder: $step failed; the whole log is $BUILD_LOG" >&2
    exit 1
  fi
  [ -t 2 ] && printf '\r\033[K' >&2
  return 0
}

mkdir -p build
: >"$BUILD_LOG"
if [ ! -f build/CMakeCache.txt ]; then
  build_quietly "configuring build/" cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
fi
window=no
if grep -q '^NASFINDER_BUILD_WINDOW:BOOL=ON' build/CMakeCache.txt; then
  window=yes
fi
case $mode in
  scan) targets=$SCAN_TARGETS ;;
  window) targets=$WINDOW_TARGETS ;;
  setup) targets=$SCAN_TARGETS ;;
esac
if [ "$mode" = setup ] && [ "$window" = yes ]; then
  targets="$targets $WINDOW_TARGETS"
fi
# A binary left from an earlier configuration is not this build's window.
if [ "$mode" = window ] && [ "$window" != yes ]; then
  echo "nasfinder: the window is not built here (NASFINDER_BUILD_WINDOW=OFF); use ./run.sh --scan" >&2
  exit 2
fi
# shellcheck disable=SC2086
build_quietly "building $targets" cmake --build build -j "$jobs" --target $targets

case $mode in
  setup)
    echo "nasfinder: set up; start it with ./run.sh (the window) or ./run.sh --scan" >&2
    exit 0
    ;;
  scan)
    exec build/src/nasfinder-scan "$@"
    ;;
esac
exec build/src/nasfinder "$@"

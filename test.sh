#!/usr/bin/env bash
# The project's checks, for a maintainer and for CI (.ci/run runs it with no
# argument). Each part installs the Debian packages it needs and builds the
# tree it tests; see usage() for the parts.
#
# Without an argument every part runs, in a pipeline that keeps both cores
# busy: the builds run one after the other (Release, ASan + UBSan, TSan, the
# fuzz targets, the Debian packages) while the tests of the build before run
# beside them (most of a LAN test is waiting for the network), each suite in
# parallel (ctest -j; what tests share is serialised in tests/CMakeLists.txt).
# The LAN and window suites run once, in the Release build; the sanitizer
# builds run the tests without the label lan, and the LAN tests labelled
# threads. Nothing is kept between runs: CI starts from a clean clone.
set -euo pipefail
cd "$(dirname "$0")"
export LANG=C.UTF-8 LC_ALL=C.UTF-8

usage() {
  cat <<'EOF'
Usage: ./test.sh [PART...]
Installs what is missing, builds, and runs the tests. Without a PART it runs
every part, as CI does; with PARTs, only those (in the order below), each with
its packages and its build.

  unit        Release build (build/): the tests that need no LAN test bed
  lan         Release build: the LAN tests (root), library, helper, scan and window
  window      Release build: the window's tests, its LAN tests (Xvfb) included
  asan        ASan + UBSan build (build-asan/): the unit tests and the LAN tests
              labelled threads
  tsan        TSan build without the window (build-tsan/): the same
  sanitizers  asan and tsan
  fuzz        every fuzz target from its seeds for a short while (build-fuzz/)
  package     the Debian packages built into dist/ and checked
  all         every part (the default)
  -h, --help  this text

Build logs: out/test/. Exit status: 0 when everything passed, 1 when a build
or a test failed, 2 for an unknown PART.
EOF
}

parts=" "
for arg in "$@"; do
  case $arg in
  -h | --help)
    usage
    exit 0
    ;;
  unit | lan | window | asan | tsan | fuzz | package) parts+="$arg " ;;
  sanitizers) parts+="asan tsan " ;;
  all) parts+="unit lan window asan tsan fuzz package " ;;
  *)
    echo "test.sh: unknown part '$arg'" >&2
    usage >&2
    exit 2
    ;;
  esac
done
[ "$parts" = " " ] && parts=" unit lan window asan tsan fuzz package "
want() {
  case $parts in *" $1 "*) return 0 ;; esac
  return 1
}

cores=$(nproc 2>/dev/null || echo 2)
# Most of a LAN test is waiting for a network condition: twice as many tests as
# cores keeps the cores busy without starving a test that needs them.
ctest_jobs=$((2 * cores))
logs=out/test
mkdir -p "$logs"
started=$SECONDS
summary=()
failed=0

note() { # NAME SECONDS RESULT
  summary+=("$(printf '%-16s %5d s  %s' "$1" "$2" "$3")")
  [ "$3" = passed ] || failed=1
}

# --- packages ---------------------------------------------------------------
. tools/deps.sh
packages="$NASFINDER_BUILD_PACKAGES"
if want unit || want lan || want window || want asan || want tsan || want fuzz; then
  packages+=" $NASFINDER_TEST_PACKAGES"
fi
want package && packages+=" $NASFINDER_PACKAGE_PACKAGES"
echo "=== install what is missing"
step=$SECONDS
# shellcheck disable=SC2086
if nasfinder_install_packages $packages; then
  note install $((SECONDS - step)) passed
else
  note install $((SECONDS - step)) failed
  printf '%s\n' "${summary[@]}"
  exit 1
fi

# --- builds -----------------------------------------------------------------
# A tree made here is built with Ninja (a tree already configured keeps its
# generator).
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}
cmake_tree() { # DIR CMAKE_OPTIONS...
  local dir=$1
  shift
  cmake -S . -B "$dir" -DNASFINDER_BUILD_TESTS=ON "$@" && cmake --build "$dir" -j "$cores"
}

build_release() { cmake_tree build -DCMAKE_BUILD_TYPE=Release; }
# The sanitizer builds use clang: g++ 12 refuses the fences inside Boost.Asio
# under -fsanitize=thread (-Werror=tsan), and under -fsanitize=address,undefined
# at -O1 it takes 1.6 times clang's time on the tests' long functions (the
# whole tree: 680 s of CPU against 420 s). The Release build and the packages
# are g++'s.
build_asan() {
  cmake_tree build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DNASFINDER_SANITIZE=address -DNASFINDER_BUILD_BENCH=OFF
}
# Qt is not instrumented for ThreadSanitizer: no window.
build_tsan() {
  cmake_tree build-tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DNASFINDER_SANITIZE=thread -DNASFINDER_BUILD_BENCH=OFF -DNASFINDER_BUILD_WINDOW=OFF
}
build_fuzz() { tools/fuzz.sh --build; }
# The Debian packages, built the Debian way (their own Release build of the
# programs, with Debian's flags), into dist/.
build_package() { tools/package.sh; }

# --- tests ------------------------------------------------------------------
# The tests of a tree that ctest would run with these selections, one a line.
test_names() { # DIR CTEST_SELECTION...
  local dir=$1
  shift
  (cd "$dir" && ctest -N "$@" | sed -n 's/^ *Test *#[0-9]*: //p')
}

# Runs, in parallel, the union of the selections: "-LE ^lan$" "-L ^threads$" ...
run_ctest() { # DIR SELECTION...
  local dir=$1 names
  shift
  names=$(for selection in "$@"; do
    # shellcheck disable=SC2086
    test_names "$dir" $selection
  done | sort -u | paste -sd '|')
  [ -n "$names" ] || return 0
  (cd "$dir" && ctest --output-on-failure --timeout 900 -j "$ctest_jobs" -R "^($names)\$")
}

test_release() {
  local selections=()
  want unit && selections+=("-LE ^lan$")
  want lan && selections+=("-L ^lan$")
  want window && selections+=("-L ^window$")
  run_ctest build "${selections[@]}"
}
test_asan() { run_ctest build-asan "-LE ^lan$" "-L ^threads$"; }
test_tsan() { run_ctest build-tsan "-LE ^lan$" "-L ^threads$"; }
test_fuzz() { tools/fuzz-smoke.sh; }
test_package() { python3 -m unittest -v tests/package/test_package.py; }

stages=()
if want unit || want lan || want window; then stages+=(release); fi
for stage in asan tsan fuzz package; do
  want $stage && stages+=("$stage")
done

# The builds run one after the other in the background and say on fd 3 when
# each is done; the tests of each build run here as soon as it is, one suite
# at a time (two ctest runs would not see each other's resource locks).
fifo=$(mktemp -u "${TMPDIR:-/tmp}/nasfinder-test.XXXXXX")
mkfifo "$fifo"
exec 3<>"$fifo"
rm -f "$fifo"
(
  for stage in "${stages[@]}"; do
    log=$logs/build-$stage.log
    echo "=== build $stage (log: $log)"
    step=$SECONDS
    status=0
    "build_$stage" >"$log" 2>&1 3>&- || status=$?
    if [ "$status" -ne 0 ]; then
      tail -40 "$log"
      echo "=== build $stage failed (exit $status)"
    fi
    echo "$stage $status $((SECONDS - step))" >&3
  done
) &
builder=$!

# Ends the builds still running when this script is stopped.
stop_builder() {
  local pid children
  for pid in "$@"; do
    children=$(ps -o pid= --ppid "$pid" 2>/dev/null || true)
    kill "$pid" 2>/dev/null || true
    # shellcheck disable=SC2086
    [ -z "$children" ] || stop_builder $children
  done
}
trap 'stop_builder "$builder"; exit 130' INT
trap 'stop_builder "$builder"; exit 143' TERM

for stage in "${stages[@]}"; do
  read -r -u 3 built status seconds
  note "build $built" "$seconds" "$([ "$status" -eq 0 ] && echo passed || echo failed)"
  if [ "$status" -ne 0 ]; then
    note "tests $stage" 0 "not run: build failed"
    continue
  fi
  echo "=== tests $stage"
  step=$SECONDS
  if "test_$stage" 3>&-; then
    note "tests $stage" $((SECONDS - step)) passed
  else
    note "tests $stage" $((SECONDS - step)) failed
  fi
done
wait "$builder"
trap - INT TERM

echo "=== times (load: $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%s\n' "${summary[@]}"
printf '%-16s %5d s\n' total $((SECONDS - started))
if [ "$failed" -ne 0 ]; then
  echo "=== FAILED"
  exit 1
fi
echo "=== all suites passed"

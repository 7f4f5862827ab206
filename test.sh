#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: the Release build, then the
# same suite under AddressSanitizer + UndefinedBehaviorSanitizer and, without the
# window (Qt is not instrumented for it), under ThreadSanitizer. The tests are a
# CMake option (NASFINDER_BUILD_TESTS), off unless asked for; each tree here asks.
set -euo pipefail
cd "$(dirname "$0")"
export LANG=C.UTF-8 LC_ALL=C.UTF-8

. tools/deps.sh
# shellcheck disable=SC2086
nasfinder_install_packages $NASFINDER_BUILD_PACKAGES $NASFINDER_TEST_PACKAGES $NASFINDER_PACKAGE_PACKAGES

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1
  shift
  echo "=== configure $dir: $*"
  cmake -S . -B "$dir" -DNASFINDER_BUILD_TESTS=ON "$@" >/dev/null
  echo "=== build $dir"
  cmake --build "$dir" -j "$jobs"
  echo "=== test $dir"
  (cd "$dir" && ctest --output-on-failure --timeout 900)
}

run_suite build -DCMAKE_BUILD_TYPE=Release
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DNASFINDER_SANITIZE=address -DNASFINDER_BUILD_BENCH=OFF
# g++ 12 refuses the fences inside Boost.Asio under -fsanitize=thread (-Werror=tsan);
# clang instruments them.
run_suite build-tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DNASFINDER_SANITIZE=thread -DNASFINDER_BUILD_BENCH=OFF \
  -DNASFINDER_BUILD_WINDOW=OFF

# The Debian packages, built once the Debian way, and checked without installing
# them here.
echo "=== package"
package_start=$SECONDS
tools/package.sh
python3 -m unittest -v tests/package/test_package.py
echo "=== package built and checked in $((SECONDS - package_start)) s"

if [ -x tools/fuzz-smoke.sh ]; then
  tools/fuzz-smoke.sh
fi
echo "=== all suites passed"

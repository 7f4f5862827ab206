#!/usr/bin/env bash
# A short fuzzing run of every target, for ./test.sh: builds the targets with
# clang (build-fuzz/) and runs each one from its seed corpus alone for a bounded
# time (NASFINDER_FUZZ_SMOKE_SECONDS, default 15 s each, about a minute for all).
# Exits non-zero when a target crashes, breaks one of its invariants, or cannot
# be built. Long campaigns: tools/fuzz.sh TARGET SECONDS.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${NASFINDER_FUZZ_SMOKE_SECONDS:-15}
start=$(date +%s)
echo "=== fuzz smoke: every target for $seconds s from its seeds"
status=0
tools/fuzz.sh all "$seconds" --fresh || status=$?
echo "=== fuzz smoke: $(( $(date +%s) - start )) s in all, exit $status"
exit "$status"

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/) and runs a campaign.
#
#   tools/fuzz.sh TARGET SECONDS [--fresh] [-- LIBFUZZER_OPTIONS...]
#   tools/fuzz.sh all SECONDS ...     every target, one after the other
#   tools/fuzz.sh --build             only build
#   tools/fuzz.sh --coverage          line coverage of the fuzzed sources reached
#                                     by the kept corpora (build-fuzz-cov/)
#
# TARGET is fuzz_ssdp_parser, fuzz_broadcast_reply, fuzz_language_file,
# fuzz_scan_json or fuzz_known_store (the fuzz_ prefix may be left out). New inputs are kept in
# build-fuzz/corpus/TARGET, which starts from a copy of the target's seeds (the
# protocol fixtures' messages, or tests/fuzz/corpus/TARGET); --fresh starts from
# the seeds alone in a temporary folder.
# Crashes are written to build-fuzz/artifacts/TARGET/; the log of the last run is
# build-fuzz/logs/TARGET.log. Exit status: 0 when no target crashed, 1 when one
# did, 2 for a bad argument or a missing clang.
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=C.UTF-8 LC_ALL=C.UTF-8

ROOT=$(pwd)
BUILD="$ROOT/build-fuzz"
ALL_TARGETS="fuzz_ssdp_parser fuzz_broadcast_reply fuzz_scan_json fuzz_known_store fuzz_language_file"

usage() {
    sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

# Longest input tried: past the receive loop's 1024 bytes for the SSDP parser,
# a little past the 148-byte packet for the broadcast reply.
max_len() {
    case $1 in
    fuzz_ssdp_parser) echo 2048 ;;
    fuzz_broadcast_reply) echo 320 ;;
    fuzz_scan_json) echo 800 ;;
    fuzz_known_store) echo 4096 ;;
    fuzz_language_file) echo 4096 ;;
    esac
}

build() {
    if ! command -v clang++ >/dev/null 2>&1; then
        echo "fuzz: clang++ is not installed (apt-get install clang libclang-rt-14-dev)" >&2
        exit 2
    fi
    local jobs
    jobs=$(nproc 2>/dev/null || echo 2)
    [ "$jobs" -gt 2 ] && jobs=2
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNASFINDER_BUILD_TESTS=ON -DNASFINDER_FUZZ=ON -DNASFINDER_BUILD_BENCH=OFF >/dev/null
    cmake --build "$BUILD" -j "$jobs" --target fuzz_targets >"$BUILD/build.log" 2>&1 || {
        tail -40 "$BUILD/build.log" >&2
        echo "fuzz: build failed (log: $BUILD/build.log)" >&2
        exit 1
    }
}

# Targets the build produced: the language file target needs the window's Qt.
built_targets() {
    local t
    for t in $ALL_TARGETS; do
        [ -x "$BUILD/tests/fuzz/$t" ] && echo "$t"
    done
    return 0
}

# The seed files of a target. The protocol fixtures give only their messages:
# an .expected file beside them is no input the parser would ever see.
seed_files() {
    case $1 in
    fuzz_ssdp_parser) echo "$ROOT"/tests/fixtures/ssdp/*.msg ;;
    fuzz_broadcast_reply) echo "$ROOT"/tests/fixtures/broadcast/*.bin ;;
    *) echo "$ROOT/tests/fuzz/corpus/$1"/* ;;
    esac
}

run_target() {
    local target=$1 seconds=$2 fresh=$3
    shift 3
    local exe="$BUILD/tests/fuzz/$target"
    local dict="$ROOT/tests/fuzz/dict/$target.dict"
    local work="$BUILD/corpus/$target"
    local artifacts="$BUILD/artifacts/$target"
    local log="$BUILD/logs/$target.log"
    if [ ! -x "$exe" ]; then
        echo "fuzz: $target was not built (the language file target needs Qt 6)" >&2
        return 2
    fi
    if [ "$fresh" = 1 ]; then
        work=$(mktemp -d "${TMPDIR:-/tmp}/nasfinder-fuzz-$target.XXXXXX")
    fi
    mkdir -p "$work" "$artifacts" "$(dirname "$log")"
    # shellcheck disable=SC2046
    cp $(seed_files "$target") "$work"/
    local opts=(-max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048
        -print_final_stats=1 -artifact_prefix="$artifacts/")
    [ -f "$dict" ] && opts+=(-dict="$dict")
    echo "=== fuzz $target for $seconds s"
    local status=0
    # Qt looks for plugins and a locale; neither matters to the parse.
    QT_QPA_PLATFORM=offscreen "$exe" "${opts[@]}" "$@" "$work" >"$log" 2>&1 || status=$?
    [ "$fresh" = 1 ] && rm -rf "$work"
    summarize "$target" "$log" "$status"
    return "$status"
}

# One line per run: executions, speed, coverage, corpus, crashes.
summarize() {
    local target=$1 log=$2 status=$3
    local runs cov ft corp rate
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    corp=$(grep -o 'corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | tail -1 | cut -d' ' -f2)
    local crashes=0
    [ "$status" -ne 0 ] && crashes=1
    printf '%s: executions %s (%s/s), coverage %s edges, %s features, corpus %s, crashes %s\n' \
        "$target" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$crashes"
    if [ "$status" -ne 0 ]; then
        grep -E 'ERROR|invariant broken|SUMMARY|Test unit written' "$log" | head -20 >&2 || true
        echo "fuzz: $target failed (exit $status); log: $log" >&2
    fi
}

# Source coverage of what the campaigns reached: the replays built with clang's
# coverage instrumentation run over the kept corpora (or the seeds when no
# campaign ran), and llvm-cov reports the files each target is meant to cover.
coverage() {
    local cov="$ROOT/build-fuzz-cov" t dir
    local flags="-fprofile-instr-generate -fcoverage-mapping"
    local profdata llvmcov
    profdata=$(command -v llvm-profdata || command -v llvm-profdata-14) || true
    llvmcov=$(command -v llvm-cov || command -v llvm-cov-14) || true
    if [ -z "$profdata" ] || [ -z "$llvmcov" ]; then
        echo "fuzz: llvm-profdata and llvm-cov are needed (apt-get install llvm-14)" >&2
        exit 2
    fi
    cmake -S "$ROOT" -B "$cov" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" -DNASFINDER_BUILD_TESTS=ON -DNASFINDER_BUILD_BENCH=OFF >/dev/null
    for t in $ALL_TARGETS; do
        cmake --build "$cov" -j 2 --target "${t}_replay" >"$cov/build-$t.log" 2>&1 || continue
        dir="$BUILD/corpus/$t"
        [ -d "$dir" ] || dir=""
        rm -f "$cov/$t.profraw"
        # shellcheck disable=SC2046
        LLVM_PROFILE_FILE="$cov/$t.profraw" "$cov/tests/fuzz/${t}_replay" ${dir:+"$dir"} $(seed_files "$t") >/dev/null
        "$profdata" merge -sparse "$cov/$t.profraw" -o "$cov/$t.profdata"
        echo "=== $t over ${dir:-the seeds}"
        "$llvmcov" report "$cov/tests/fuzz/${t}_replay" -instr-profile="$cov/$t.profdata" $(covered_sources "$t") |
            sed -e "s|$ROOT/||"
    done
}

covered_sources() {
    case $1 in
    fuzz_ssdp_parser) echo "$ROOT/searchlib/protocol/SsdpProtocol.cpp" ;;
    fuzz_broadcast_reply) echo "$ROOT/searchlib/protocol/BroadcastProtocol.cpp" ;;
    fuzz_scan_json) echo "$ROOT/src/scan/ScanOutput.cpp" ;;
    fuzz_known_store) echo "$ROOT/src/known/KnownStoreFormat.cpp" ;;
    fuzz_language_file) echo "$ROOT/src/window/LanguageFile.cpp" ;;
    esac
}

[ $# -ge 1 ] || usage
if [ "$1" = "--coverage" ]; then
    coverage
    exit 0
fi
if [ "$1" = "--build" ]; then
    build
    built_targets
    exit 0
fi
[ $# -ge 2 ] || usage
target=$1
asked=$1
seconds=$2
shift 2
case $seconds in
'' | *[!0-9]*) echo "fuzz: SECONDS must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac
fresh=0
extra=()
while [ $# -gt 0 ]; do
    case $1 in
    --fresh) fresh=1 ;;
    --) shift; extra=("$@"); break ;;
    *) echo "fuzz: unknown option '$1'" >&2; exit 2 ;;
    esac
    shift
done

if [ "$target" = all ]; then
    targets=$ALL_TARGETS
else
    target=fuzz_${target#fuzz_}
    case " $ALL_TARGETS " in
    *" $target "*) targets=$target ;;
    *) echo "fuzz: unknown target '$asked'; one of: all $ALL_TARGETS" >&2; exit 2 ;;
    esac
fi

build
built=$(built_targets)
failed=0
for t in $targets; do
    if ! echo "$built" | grep -qx "$t"; then
        echo "=== fuzz $t: not built here (needs Qt 6), skipped"
        continue
    fi
    run_target "$t" "$seconds" "$fresh" "${extra[@]+"${extra[@]}"}" || failed=1
done
exit "$failed"

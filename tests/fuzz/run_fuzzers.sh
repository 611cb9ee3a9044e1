#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#
#   tests/fuzz/run_fuzzers.sh [seconds-per-target] [build-dir] [target...]
#
# Defaults: 20 seconds, build-fuzz beside the sources, every fuzz_* program. The committed corpus
# is only read: each run writes its new inputs to a temporary folder listed first. Prints the
# number of inputs each target executed; exits 1 when any target found a crash, leak or failed
# check (the reproducer is kept in the build folder's fuzz-artifacts/).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds="${1:-20}"
build="${2:-$root/build-fuzz}"
shift $(($# < 2 ? $# : 2))

if ! command -v clang++ >/dev/null; then
    echo "run_fuzzers.sh: clang++ is needed (apt-get install clang libclang-rt-14-dev)" >&2
    exit 2
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPIXMOLE_FUZZ=ON -DPIXMOLE_GTK=OFF -DPIXMOLE_TESTS=OFF -DPIXMOLE_BENCH=OFF >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in "$here"/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
cmake --build "$build" --target "${targets[@]}"

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
work="$(mktemp -d "${TMPDIR:-/tmp}/pixmole-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"

failed=0
for target in "${targets[@]}"; do
    corpus="$here/corpus/$target"
    mkdir -p "$work/$target"
    log="$work/$target.log"
    seeds=()
    [ -d "$corpus" ] && seeds=("$corpus")
    status=0
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" -rss_limit_mb=2048 -timeout=30 \
        "$work/$target" "${seeds[@]}" >"$log" 2>&1 || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    if [ "$status" -ne 0 ]; then
        failed=1
        echo "$target: FAILED (exit $status) after ${runs:-?} executions"
        grep -E 'ERROR|check failed|runtime error|Test unit written|SUMMARY' "$log" | head -n 20
        echo "  full log kept at $artifacts/$target.log"
        cp "$log" "$artifacts/$target.log"
    else
        echo "$target: ${runs:-?} executions in ${seconds}s, no failure"
    fi
done
exit "$failed"

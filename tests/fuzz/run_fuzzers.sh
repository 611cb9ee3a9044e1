#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#
#   tests/fuzz/run_fuzzers.sh [seconds-per-target] [build-dir] [target...]
#
# Defaults: 20 seconds, build-fuzz beside the sources, every fuzz_* program. The committed corpus
# is only read: new inputs go to a temporary folder listed first. Prints the number of inputs
# each target executed; exits 1 when a target found a crash, leak or failed check (the reproducer
# and the log stay in the build folder's fuzz-artifacts/).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)" seconds="${1:-20}"
root="$(cd "$here/../.." && pwd)" build="${2:-$root/build-fuzz}"
shift $(($# < 2 ? $# : 2))
[ $# -gt 0 ] && targets=("$@") || targets=(fuzz_text fuzz_png fuzz_events)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPIXMOLE_FUZZ=ON -DPIXMOLE_GTK=OFF -DPIXMOLE_TESTS=OFF -DPIXMOLE_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:${ASAN_OPTIONS:-}" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}" \
    LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
artifacts="$build/fuzz-artifacts" work="$(mktemp -d)" failed=0
trap 'rm -rf "$work"' EXIT
[ -w /dev/shm ] && export TMPDIR=/dev/shm # the PNG writer syncs every file it writes
for target in "${targets[@]}"; do
    log="$artifacts/$target.log"
    mkdir -p "$artifacts" "$work/$target"
    if "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 \
        -artifact_prefix="$artifacts/$target-" "$work/$target" "$here/corpus/$target" >"$log" 2>&1; then
        echo "$target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") executions in ${seconds}s"
    else
        failed=1
        echo "$target: FAILED; log: $log"
        grep -E 'ERROR|check failed|runtime error|Test unit written|SUMMARY' "$log" | head -n 20
    fi
done
exit "$failed"

#!/usr/bin/env bash
# The session of program_gui_tests with the program under Valgrind's memcheck, on a private Xvfb:
# a memory error or a definite leak makes the program end with 99 instead of 0, and the test fail.
#
#   tests/gui/run_valgrind_session.sh [build-dir]   (a build without sanitizers, as ./test makes)
#
# PM_VALGRIND_OPTS adds Valgrind options (for example --track-origins=yes). The log is kept on
# failure.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath -m "${1:-$here/build-valgrind}")"
cmake --build "$build" --target program_gui_tests
log="$(mktemp "${TMPDIR:-/tmp}/pm-valgrind.XXXXXX")"
# The driver puts the prefix in front of the program on one shell command line.
options=(--tool=memcheck -s --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
         --num-callers=40 --show-leak-kinds=definite --suppressions="$here/tests/valgrind.supp"
         --gen-suppressions=all ${PM_VALGRIND_OPTS:-} --log-file="$log")
export PIXMOLE_APP="$build/app/pixmole" PIXMOLE_APP_PREFIX="valgrind ${options[*]}"
status=0
"$here/tests/gui/with_xvfb.sh" "$build/tests/program_gui_tests" || status=$?
grep -E 'ERROR SUMMARY|definitely lost|used_suppression' "$log" | sed 's/^[=-]*[0-9]*[=-]* *//' || true
if [ "$status" -ne 0 ] || ! grep -q 'ERROR SUMMARY: 0 errors' "$log"; then
    echo "run_valgrind_session: FAILED; the log is $log" >&2
    exit 1
fi
rm -f "$log"

#!/usr/bin/env bash
# Runs the real program through a scripted GUI session under Valgrind's memcheck, on a private
# Xvfb display: builds what it needs without sanitizers (Valgrind cannot run them), copies the
# sample file into a temporary folder and lets valgrind_session drive the program with XTest.
# Exits non-zero on any memory error, definite leak, failed step or wrong output.
#
#   tests/gui/run_valgrind_session.sh [build-dir]      (default: build-valgrind)
#
# PM_VALGRIND_OPTS adds Valgrind options (for example --track-origins=yes).
# Kept on failure: the temporary folder with valgrind.log and screenshots (PPM).
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath -m "${1:-$here/build-valgrind}")"

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIXMOLE_TESTS=ON \
        -DPIXMOLE_BENCH=OFF -DPIXMOLE_SANITIZE=OFF >/dev/null
fi
if grep -q '^PIXMOLE_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
    echo "run_valgrind_session: $build is a sanitizer build; give a build without them" >&2
    exit 2
fi
cmake --build "$build" --target pixmole valgrind_session drag_source

work="$(mktemp -d "${TMPDIR:-/tmp}/pm-valgrind.XXXXXX")"
cp "$here/samples/sprites.bin" "$work/sprites.bin"
# The dropped file: the sample's bytes inverted, so the canvas visibly changes when it loads.
perl -0777 -pe '$_ = ~$_' "$here/samples/sprites.bin" >"$work/drop.bin"
: >"$work/picture.png" # an existing target: "Save image.." asks before replacing it

unset WAYLAND_DISPLAY
export GDK_BACKEND=x11 NO_AT_BRIDGE=1
# No desktop services: GIO and the file chooser keep to plain local files.
export GIO_USE_VFS=local GTK_USE_PORTAL=0 GSETTINGS_BACKEND=memory
export DBUS_SESSION_BUS_ADDRESS=disabled: # no bus, and no attempt to start one
start=$(date +%s)
status=0
(cd "$work" && timeout --signal=KILL 480 xvfb-run -a -s "-screen 0 1280x1024x24 -noreset -nolisten tcp" \
    "$build/tests/valgrind_session" "$work" "$build/tests/drag_source" "$work/valgrind.log" -- \
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
    --errors-for-leak-kinds=definite --show-leak-kinds=definite \
    --suppressions="$here/tests/valgrind.supp" --gen-suppressions=all -s --num-callers=40 --child-silent-after-fork=yes ${PM_VALGRIND_OPTS:-} \
    --log-file="$work/valgrind.log" "$build/app/pixmole" "$work/sprites.bin") || status=$?
echo "run_valgrind_session: $(($(date +%s) - start)) s, log $work/valgrind.log"
if [ "$status" -ne 0 ]; then
    echo "run_valgrind_session: FAILED (status $status); kept $work" >&2
    exit 1
fi
grep -E 'used_suppression' "$work/valgrind.log" | sed 's/^==[0-9]*==//' || true
rm -rf "$work"

#!/usr/bin/env bash
# Runs the cross-built tests under Wine on a private Xvfb display:
#   scripts/build-windows.sh --tests && scripts/test-windows.sh [ctest arguments]
# The Wine prefix lives in the build folder (BUILD, default build-windows/), never in ~/.wine.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
. "$here/scripts/deps.sh"
ensure_packages "${WINDOWS_PACKAGES[@]}"
build="$(realpath -m "${BUILD:-$here/build-windows}")"
export WINEPREFIX="$build/wineprefix" WINEDEBUG="${WINEDEBUG:--all}"

rm -f "$build/xvfb.display" # a stale file would pass the wait below before Xvfb is up
# -displayfd: Xvfb picks a free display and reports it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$build/xvfb.display" \
    >/dev/null 2>&1 &
xvfb=$!
while [ ! -s "$build/xvfb.display" ]; do
    kill -0 "$xvfb"
    sleep 0.1
done
export DISPLAY=":$(cat "$build/xvfb.display")"
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT INT TERM

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1
    # No window manager on Xvfb: Wine draws and manages its own frames, otherwise every
    # DestroyWindow of a shown top-level window stalls 2 s.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    # Caption-button glyphs, for screenshots.
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || :
    wineserver -w # the set-up server must end before "wineserver -p" below can start
fi
# One persistent server and Wine's service processes for the whole run, started outside ctest:
# background Wine processes started inside a test inherit its output pipe and ctest would wait
# for them.
wineserver -p
wine cmd /c exit >/dev/null 2>&1
cd "$build/app"
ctest --output-on-failure "$@"

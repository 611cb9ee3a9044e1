#!/usr/bin/env bash
# Runs the cross-built tests under Wine on a private Xvfb display:
#   scripts/build-windows.sh --tests && scripts/test-windows.sh [ctest arguments]
# The Wine prefix lives in the build folder (BUILD, default build-windows/), never in ~/.wine.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
. "$here/scripts/deps.sh"
ensure_packages "${WINDOWS_PACKAGES[@]}"
build="$(realpath -m "${BUILD:-$here/build-windows}")"
exec "$here/tests/windows/with_wine.sh" "$build" \
    ctest --test-dir "$build/app" --output-on-failure "$@"

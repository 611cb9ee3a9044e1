#!/usr/bin/env bash
# Builds the packages into dist/ (or DIST_DIR):
#   pixmole_<version>_amd64.deb            the Debian package (cpack), from a Release build with
#                                          Debian's hardening flags, configured for /usr
#   pixmole-<version>-windows-x64.zip      pixmole.exe, pixmole-batch.exe, README.txt, LICENSE.txt
#                                          (scripts/build-windows.sh builds the programs)
# The version is the CMake project version. Usage: scripts/package.sh [DIST_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
. "$here/scripts/deps.sh"
ensure_packages "${RUN_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
dist="$(realpath -m "${1:-$here/dist}")"
build="$here/build-package"
windows="$here/build-windows"

# The Linux programs: optimised, no tests or sanitizers, the compiler and linker flags Debian
# builds its own packages with (stack protector, fortified functions, read-only relocations).
cd "$here" # the flags map this folder's paths to "." in the debugging information
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DPIXMOLE_SANITIZE=OFF -DPIXMOLE_TESTS=OFF -DPIXMOLE_BENCH=OFF \
    -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$build"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

"$here/scripts/build-windows.sh" "$windows"

mkdir -p "$dist"
deb="$dist/pixmole_${version}_$(dpkg --print-architecture).deb" zip="$dist/pixmole-${version}-windows-x64.zip"
rm -f "$deb" "$zip"
(cd "$build" && cpack -B "$build/cpack" >/dev/null)
mv "$build/cpack/$(basename "$deb")" "$deb"

# Flat: Windows' "Extract All" makes the folder itself.
zip -X -j -q "$zip" "$windows/app/app/pixmole.exe" "$windows/app/tools/pixmole-batch.exe" \
    "$windows/app/data/README.txt" "$windows/app/data/LICENSE.txt"

ls -l "$deb" "$zip"

#!/usr/bin/env bash
# Cross-builds pixmole.exe and pixmole-batch.exe for 64-bit Windows with Debian's mingw-w64,
# each one statically linked file. Usage: scripts/build-windows.sh [--tests] [BUILD_DIR]
# (default build-windows/). The programs land in BUILD_DIR/app/app and BUILD_DIR/app/tools;
# --tests also builds the unit tests that run on Windows (scripts/test-windows.sh runs them).
#
# libpng comes from Debian's source package, fetched with a private apt state under BUILD_DIR so
# that the machine's apt configuration stays as it is; it and GoogleTest are built for the target
# once and kept under BUILD_DIR/deps/prefix.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
. "$here/scripts/deps.sh"
ensure_packages "${WINDOWS_PACKAGES[@]}"

targets=(pixmole pixmole-batch)
if [ "${1:-}" = --tests ]; then
    targets=(all)
    shift
fi
build="$(realpath -m "${1:-$here/build-windows}")"
deps="$build/deps"
toolchain="$here/cmake/mingw-w64-x86_64.cmake"
export MINGW_DEPS_PREFIX="$deps/prefix"
mkdir -p "$deps/src"

if [ ! -f "$MINGW_DEPS_PREFIX/lib/libpng16.a" ]; then
    apt_dir="$deps/apt"
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
    # The machine's own sources turned into source entries, in files only these commands read.
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt_dir/src.list" 2>/dev/null || :
    rm -f "$apt_dir/parts"/*
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/parts/$(basename "$f")"
    done
    apt_opts=(-o Dir::Etc::SourceList="$apt_dir/src.list" -o Dir::Etc::SourceParts="$apt_dir/parts"
              -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache")
    apt-get "${apt_opts[@]}" -qq update
    rm -rf "$deps/src/libpng" "$deps/src"/libpng1.6_*
    # A mirror can lack the newest security pocket's .dsc: the release pocket then serves.
    (cd "$deps/src" &&
        { apt-get "${apt_opts[@]}" -qq source --download-only libpng1.6 ||
          apt-get "${apt_opts[@]}" -qq source --download-only libpng1.6/bookworm; } &&
        dpkg-source -x "$(ls -t libpng1.6_*.dsc | head -1)" libpng >/dev/null)
    cmake -S "$deps/src/libpng" -B "$deps/build-libpng" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$MINGW_DEPS_PREFIX" \
        -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF >/dev/null
    cmake --build "$deps/build-libpng"
    cmake --install "$deps/build-libpng" >/dev/null
fi

if [ ! -f "$MINGW_DEPS_PREFIX/lib/libgtest.a" ]; then
    cmake -S /usr/src/googletest -B "$deps/build-gtest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$MINGW_DEPS_PREFIX" -DBUILD_GMOCK=OFF \
        >/dev/null
    cmake --build "$deps/build-gtest"
    cmake --install "$deps/build-gtest" >/dev/null
fi

cmake -S "$here" -B "$build/app" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DPIXMOLE_TESTS=ON -DPIXMOLE_BENCH=OFF >/dev/null
cmake --build "$build/app" --target "${targets[@]}"

# Each program must be one file for a bare Windows: it may import the system's DLLs only.
system_dlls='advapi32|comctl32|comdlg32|gdi32|kernel32|msvcrt|ole32|shell32|user32'
status=0
for exe in "$build/app/app/pixmole.exe" "$build/app/tools/pixmole-batch.exe"; do
    if ! file "$exe" | grep -q 'PE32+ executable'; then
        echo "$exe: not a PE32+ executable" >&2
        status=1
    fi
    others=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
             tr 'A-Z' 'a-z' | grep -vxE "($system_dlls)\.dll" || true)
    if [ -n "$others" ]; then
        echo "$exe imports DLLs a bare Windows lacks: $others" >&2
        status=1
    fi
done
[ $status -eq 0 ] && echo "Built: $build/app/app/pixmole.exe $build/app/tools/pixmole-batch.exe"
exit $status

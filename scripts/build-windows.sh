#!/usr/bin/env bash
# Cross-builds pixmole.exe and pixmole-batch.exe for 64-bit Windows with Debian's mingw-w64,
# each one statically linked file. Usage: scripts/build-windows.sh [--tests] [--bench] [BUILD_DIR]
# (default build-windows/). The programs land in BUILD_DIR/app/app and BUILD_DIR/app/tools;
# --tests also builds the unit tests that run on Windows (scripts/test-windows.sh runs them),
# --bench the benchmarks that run there (BUILD_DIR/app/bench/pixmole-bench.exe).
#
# libpng (and for --bench Google Benchmark) come from Debian's source packages, fetched with a
# private apt state under BUILD_DIR so that the machine's apt configuration stays as it is; they and
# GoogleTest are built for the target once and kept under BUILD_DIR/deps/prefix.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
. "$here/scripts/deps.sh"
ensure_packages "${WINDOWS_PACKAGES[@]}"

targets=(pixmole pixmole-batch)
bench=OFF
while [ $# -gt 0 ]; do
    case "$1" in
        --tests) targets+=(all) ;;
        --bench) bench=ON targets+=(pixmole-bench) ;;
        *) break ;;
    esac
    shift
done
build="$(realpath -m "${1:-$here/build-windows}")"
deps="$build/deps"
toolchain="$here/cmake/mingw-w64-x86_64.cmake"
export MINGW_DEPS_PREFIX="$deps/prefix"
mkdir -p "$deps/src"

# Unpacks Debian's source package $1 into deps/src/$2 and builds it for the target with the CMake
# options that follow.
build_source_package() {
    local package="$1" folder="$2" apt_dir="$deps/apt"
    shift 2
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
    # The machine's own sources turned into source entries, in files only these commands read.
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$apt_dir/src.list" 2>/dev/null || :
    rm -f "$apt_dir/parts"/*
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/parts/$(basename "$f")"
    done
    local apt_opts=(-o Dir::Etc::SourceList="$apt_dir/src.list"
                    -o Dir::Etc::SourceParts="$apt_dir/parts" -o Dir::State::Lists="$apt_dir/lists"
                    -o Dir::Cache="$apt_dir/cache")
    apt-get "${apt_opts[@]}" -qq update
    rm -rf "$deps/src/$folder" "$deps/src/${package}"_*
    # A mirror can lack the newest security pocket's .dsc: the release pocket then serves.
    (cd "$deps/src" &&
        { apt-get "${apt_opts[@]}" -qq source --download-only "$package" ||
          apt-get "${apt_opts[@]}" -qq source --download-only "$package/bookworm"; } &&
        dpkg-source -x "$(ls -t "${package}"_*.dsc | head -1)" "$folder" >/dev/null)
    cmake -S "$deps/src/$folder" -B "$deps/build-$folder" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$MINGW_DEPS_PREFIX" "$@" >/dev/null
    cmake --build "$deps/build-$folder"
    cmake --install "$deps/build-$folder" >/dev/null
}

if [ ! -f "$MINGW_DEPS_PREFIX/lib/libpng16.a" ]; then
    build_source_package libpng1.6 libpng -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF \
        -DPNG_TESTS=OFF
fi
if [ $bench = ON ] && [ ! -f "$MINGW_DEPS_PREFIX/lib/libbenchmark.a" ]; then
    # GIT_VERSION 0.0.0: the library takes its version from its project() line (no git here).
    build_source_package benchmark benchmark -DGIT_VERSION=0.0.0 -DBENCHMARK_ENABLE_TESTING=OFF \
        -DBENCHMARK_ENABLE_WERROR=OFF -DBENCHMARK_INSTALL_DOCS=OFF -DBUILD_SHARED_LIBS=OFF
fi

if [ ! -f "$MINGW_DEPS_PREFIX/lib/libgtest.a" ]; then
    cmake -S /usr/src/googletest -B "$deps/build-gtest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$MINGW_DEPS_PREFIX" -DBUILD_GMOCK=OFF \
        >/dev/null
    cmake --build "$deps/build-gtest"
    cmake --install "$deps/build-gtest" >/dev/null
fi

cmake -S "$here" -B "$build/app" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DPIXMOLE_TESTS=ON -DPIXMOLE_BENCH=$bench >/dev/null
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

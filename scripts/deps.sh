# Sourced by ./run and ./test: installs the Debian packages that are missing.
# Usage: ensure_packages pkg...
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    else
        echo "Missing packages. Run this once, then try again:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
}

# What building and running the program needs.
RUN_PACKAGES=(build-essential cmake ninja-build pkg-config libgtk-3-dev libpng-dev zlib1g-dev
              libx11-dev libxi-dev libxtst-dev libgtest-dev libbenchmark-dev)
# What the tests need besides: a private X server, XTest tools, screenshots, the packages' checks.
TEST_PACKAGES=(xvfb xauth x11-utils imagemagick clang libclang-rt-14-dev valgrind lintian
               appstream unzip python3-numpy)
# What the Windows cross build (scripts/build-windows.sh) and running it under Wine need.
WINDOWS_PACKAGES=(cmake ninja-build dpkg-dev file g++-mingw-w64-x86-64-posix mingw-w64-tools
                  libz-mingw-w64-dev googletest wine wine64 fonts-wine xvfb xauth imagemagick
                  librsvg2-bin icoutils)
# What scripts/package.sh needs besides the build's: dpkg-shlibdeps for the Debian package's
# dependencies, zip for the Windows one.
PACKAGE_PACKAGES=(dpkg-dev zip)

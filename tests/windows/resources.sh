#!/usr/bin/env bash
# What the Windows programs carry besides their code: pixmole.exe its icon at 16, 32, 48 and 256
# pixels and a manifest for high-DPI screens and the common controls 6, pixmole-batch.exe a
# manifest for UTF-8, and both the build's version in their version information and manifests.
# Usage: tests/windows/resources.sh VERSION pixmole.exe pixmole-batch.exe
set -euo pipefail
version="$1" program="$2" batch="$3"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
status=0
fail() {
    echo "$*" >&2
    status=1
}

wrestool -x --type=group_icon "$program" -o "$tmp/icon.ico"
sizes=$(icotool -l "$tmp/icon.ico" | sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\).*/\1x\2/p' |
        sort -n | tr '\n' ' ')
[ "$sizes" = "16x16 32x32 48x48 256x256 " ] || fail "$program: icon sizes $sizes"

# The value that follows a name in the version information's UTF-16 strings.
value() { wrestool -x --raw --type=version "$1" | strings -el | sed -n "/^$2\$/{n;p;q}"; }
manifest() { wrestool -x --raw --type=24 "$1"; }
for exe in "$program" "$batch"; do
    for name in FileVersion ProductVersion; do
        [ "$(value "$exe" $name)" = "$version" ] || fail "$exe: $name $(value "$exe" $name)"
    done
    manifest "$exe" | grep -q "assemblyIdentity .* version=\"$version\.0\"" ||
        fail "$exe: the manifest's version is not $version.0"
done
for setting in '<dpiAware [^>]*>true/pm<' '<dpiAwareness [^>]*>PerMonitorV2<' \
               'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'; do
    manifest "$program" | tr -s ' \n' ' ' | grep -q "$setting" ||
        fail "$program: no $setting in its manifest"
done
manifest "$batch" | grep -q '<activeCodePage [^>]*>UTF-8<' || fail "$batch: no UTF-8 code page"
exit $status

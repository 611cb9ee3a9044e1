#!/usr/bin/env bash
# Checks what scripts/package.sh made in DIST for VERSION: the Debian package's files, control
# fields, programs and documents, lintian's and appstreamcli's verdicts, and the Windows zip's
# files and line ends.
# Usage: check_packages.sh DIST VERSION
set -euo pipefail
dist="$(realpath "$1")" version="$2"
deb="$dist/pixmole_${version}_amd64.deb" zip="$dist/pixmole-${version}-windows-x64.zip"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# expect WHAT EXPECTED ACTUAL
expect() {
    [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

# The Debian package: what cmake --install puts under /usr, and Debian's two documents.
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
expect "the .deb's files" "./usr/bin/pixmole
./usr/bin/pixmole-batch
./usr/share/applications/pixmole.desktop
./usr/share/doc/pixmole/changelog.gz
./usr/share/doc/pixmole/copyright
./usr/share/icons/hicolor/scalable/apps/pixmole.svg
./usr/share/man/man1/pixmole-batch.1.gz
./usr/share/man/man1/pixmole.1.gz
./usr/share/metainfo/pixmole.metainfo.xml" "$files"
field() { dpkg-deb -f "$deb" "$1"; }
expect Package pixmole "$(field Package)"
expect Version "$version" "$(field Version)"
expect Architecture amd64 "$(field Architecture)"
expect Section graphics "$(field Section)"
# Computed from the programs: versioned entries for the libraries they link.
for library in libc6 libgtk-3-0 libpng16-16 libstdc++6; do
    [[ ", $(field Depends)," == *", $library (>= "* ]] ||
        fail "Depends lacks $library: $(field Depends)"
done
[ "$(field Description | wc -l)" -ge 5 ] || fail "no long description: $(field Description)"

dpkg-deb -x "$deb" "$dir/deb"
usr="$dir/deb/usr"
expect "pixmole --version" "pixmole $version" "$("$usr/bin/pixmole" --version)"
printf 'A' >"$dir/one.bin"
expect "the window title" "title: Pixmole $version, sprsize:1 disp:0 zoom:1" \
    "$("$usr/bin/pixmole-batch" "$dir/one.bin" | head -1)"
for program in pixmole pixmole-batch; do
    zcat "$usr/share/man/man1/$program.1.gz" | head -1 | grep -qF "\"Pixmole $version\"" ||
        fail "man page of $program: not version $version"
done
copyright="$usr/share/doc/pixmole/copyright"
format=https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
grep -qx "Format: $format" "$copyright" && grep -qx 'License: Expat' "$copyright" &&
    grep -qx 'Copyright: 2026 The Pixmole developers' "$copyright" ||
    fail "copyright file: $(head -8 "$copyright")"
zcat "$usr/share/doc/pixmole/changelog.gz" | head -1 | grep -q "^pixmole ($version) " ||
    fail "changelog: $(zcat "$usr/share/doc/pixmole/changelog.gz" | head -1)"

# lintian: no errors and no warnings (its notes are shown); it checks that the programs are
# stripped and the Maintainer field well formed.
lintian --display-info "$deb" >"$dir/lintian.txt" 2>&1 || :
grep -v '^running with root privileges' "$dir/lintian.txt" || :
! grep -q '^[EW]: ' "$dir/lintian.txt" || fail "lintian reports errors or warnings"

# AppStream, on the package's tree (the metainfo and the desktop entry it launches): no errors,
# and no warning but the one about an ID that is not a reverse domain name (Pixmole has no
# domain); this version as the one release.
metainfo="$usr/share/metainfo/pixmole.metainfo.xml"
appstreamcli validate-tree --no-net "$dir/deb" >"$dir/appstream.txt" 2>&1 || :
cat "$dir/appstream.txt"
grep -q 'Validation' "$dir/appstream.txt" &&
    ! grep '^ *[EW]: ' "$dir/appstream.txt" | grep -qv ': cid-desktopapp-is-not-rdns ' ||
    fail "appstreamcli reports errors or new warnings"
grep -qF "<release version=\"$version\" date=" "$metainfo" || fail "metainfo: no release $version"

# The Windows zip: the two programs and the two texts, flat, the texts with CRLF line ends.
expect "the zip's files" "LICENSE.txt
README.txt
pixmole-batch.exe
pixmole.exe" "$(unzip -Z1 "$zip" | LC_ALL=C sort)"
unzip -q "$zip" -d "$dir/zip"
for exe in pixmole pixmole-batch; do
    file "$dir/zip/$exe.exe" | grep -q 'PE32+ executable.*x86-64' ||
        fail "$exe.exe: $(file "$dir/zip/$exe.exe")"
done
for text in README.txt LICENSE.txt; do
    # Every line ends in CR LF, the last one included.
    if grep -q $'[^\r]$\|^$' "$dir/zip/$text" ||
        [ "$(tail -c 2 "$dir/zip/$text" | od -An -tx1)" != " 0d 0a" ]; then
        fail "$text: a line without CRLF"
    fi
done
tr -d '\r' <"$dir/zip/LICENSE.txt" | cmp -s - "$(dirname "$0")/../../LICENSE" ||
    fail "LICENSE.txt differs from LICENSE"
for said in "PIXMOLE $version" "pixmole-batch.exe --help" Escape "Left / Right arrow" \
    "Save selected" "mouse wheel" "F3 / Shift+F3" "F4" "--find"; do
    grep -qF -e "$said" "$dir/zip/README.txt" || fail "README.txt does not say \"$said\""
done

[ $failures -eq 0 ] && echo "packages of $version: as they should be"
exit $((failures > 0))

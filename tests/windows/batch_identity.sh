#!/usr/bin/env bash
# The Linux pixmole-batch and pixmole-batch.exe under Wine give the same bytes: the PNG, the --bits
# file, the exit code and the two printed lines (line ends aside), on the sample and on random
# views (in every layout) of a random file, and print the same version. WINDOWS_BATCH is the
# program or the Windows zip of scripts/package.sh, whose pixmole-batch.exe then runs unpacked as
# a user would run it.
# PIXMOLE_SEED repeats a run; VIEWS random views (default 40).
# Usage (Wine ready, see with_wine.sh): batch_identity.sh LINUX_BATCH WINDOWS_BATCH SAMPLE [VIEWS]
set -euo pipefail
linux="$(realpath "$1")" windows="$(realpath "$2")" sample="$3" views="${4:-40}"
seed="${PIXMOLE_SEED:-$(date +%s)}"
echo "seed $seed (PIXMOLE_SEED=$seed repeats this run)"
RANDOM=$seed
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/linux" "$dir/windows"
cp "$sample" "$dir/sample.bin"
if [[ "$windows" == *.zip ]]; then
    unzip -q "$windows" -d "$dir/unpacked"
    if [ ! -f "$dir/unpacked/pixmole-batch.exe" ]; then
        echo "$windows holds no pixmole-batch.exe" >&2
        exit 1
    fi
    windows="$dir/unpacked/pixmole-batch.exe"
fi
linux_version="$("$linux" --version)" windows_version="$(wine "$windows" --version | tr -d '\r')"
if [ "$linux_version" != "$windows_version" ]; then
    echo "versions differ: $linux_version, $windows_version" >&2
    exit 1
fi

# A random file of 1 to 40,000 bytes: views reach past its end too.
escapes=
for ((i = RANDOM % 40000; i >= 0; --i)); do
    printf -v byte '\\x%02x' $((RANDOM % 256))
    escapes+=$byte
done
printf '%b' "$escapes" >"$dir/random.bin"

# Runs both programs on one view in their own folders and compares what they leave.
compare() {
    local side
    for side in linux windows; do
        rm -f "$dir/$side"/*
        (
            cd "$dir/$side"
            [ $side = linux ] && set -- "$linux" "$@" || set -- wine "$windows" "$@"
            rc=0
            "$@" --png view.png --bits view.bits >out.txt 2>err.txt || rc=$?
            echo "exit $rc" >>out.txt
        )
        tr -d '\r' <"$dir/$side/out.txt" >"$dir/$side/lines.txt"
    done
    if ! grep -qx 'exit 0' "$dir/linux/lines.txt" || [ ! -s "$dir/linux/view.png" ] ||
        ! cmp "$dir/linux/lines.txt" "$dir/windows/lines.txt" ||
        ! cmp "$dir/linux/view.png" "$dir/windows/view.png" ||
        ! cmp "$dir/linux/view.bits" "$dir/windows/view.bits"; then
        echo "differ on: $*" >&2
        head -n 20 "$dir"/*/lines.txt "$dir"/*/err.txt >&2
        exit 1
    fi
}

compare ../sample.bin
compare --multi --grid ../sample.bin
compare --width 2 --row 19456 --select 0,0,15,15 ../sample.bin
for ((v = 0; v < views; ++v)); do
    width=$((RANDOM % 4 ? 1 + RANDOM % 16 : 1 + RANDOM % 256))
    zooms=(1 2 8)
    view=(--width $width --row $((RANDOM % 3000)) --offset $((RANDOM % (2 * width + 5) - width - 2))
          --zoom ${zooms[RANDOM % 3]} --grid-size $((RANDOM % 30)),$((RANDOM % 30)))
    for flag in --multi --invert --align --grid; do ((RANDOM % 2)) && view+=($flag); done
    layouts=(rows rows-lsb columns columns-msb)
    layout=${layouts[RANDOM % 4]}
    view+=(--layout $layout)
    [[ $layout == columns* ]] && view+=(--column-bytes $((1 + RANDOM % 4)))
    if ((RANDOM % 4)); then # corners off the canvas too
        corner=$((RANDOM % 840 - 100)),$((RANDOM % 680 - 100))
        view+=(--select $corner,$((RANDOM % 840 - 100)),$((RANDOM % 680 - 100)))
    fi
    compare "${view[@]}" ../random.bin
done
echo "$((views + 3)) views: the same bytes"

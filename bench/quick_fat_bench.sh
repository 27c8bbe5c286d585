#!/usr/bin/env bash
# Quick FAT scan speed and memory against The Sleuth Kit's `fls -r -d` on the
# same FAT32 image in the same run. The image holds FILES files in FOLDERS
# folders (default 50,000 in 100), half of them deleted, made by mkfs.fat and
# mtools. A second image of half the size shows whether peak memory grows with
# the number of entries.
#
#   bench/quick_fat_bench.sh [BUILD_DIR]      (default: build)
#   FILES=50000 FOLDERS=100 RUNS=3 bench/quick_fat_bench.sh
#
# Goal: Sorvane takes at most half of fls's time; its peak memory does not
# grow with the number of entries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
sorvane="$build/cli/sorvane"
files=${FILES:-50000}
folders=${FOLDERS:-100}
runs=${RUNS:-3}
for tool in mkfs.fat mcopy mdel fls /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$sorvane" ] || { echo "build $sorvane first (ninja -C $build sorvane)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 SORVANE_DATA_DIR="$work/data"

# make_image IMAGE FILES: FOLDERS folders of files, every second file deleted.
make_image() {
    local image=$1 count=$2 per=$(( $2 / folders ))
    local tree="$work/tree-$count"
    mkdir -p "$tree"
    for ((d = 0; d < folders; d++)); do
        local dir
        dir=$(printf '%s/folder%03d' "$tree" "$d")
        mkdir -p "$dir"
        for ((f = 0; f < per; f++)); do
            # Two names per pair: a kept photo and a deleted document.
            if (( f % 2 == 0 )); then
                printf 'kept %d %d\n' "$d" "$f" > "$(printf '%s/keep%05d.jpg' "$dir" "$f")"
            else
                printf 'gone %d %d\n' "$d" "$f" > "$(printf '%s/gone%05d.txt' "$dir" "$f")"
            fi
        done
    done
    truncate -s 256M "$image"
    mkfs.fat -F 32 -s 1 "$image" >/dev/null
    mcopy -s -i "$image" "$tree"/* ::/
    for ((d = 0; d < folders; d++)); do
        mdel -i "$image" "$(printf '::/folder%03d/gone*.txt' "$d")"
    done
}

source "$root/bench/quick_scan_compare.sh"

echo "making images ($files and $((files / 2)) files in $folders folders, half deleted) ..." >&2
make_image "$work/big.img" "$files"
make_image "$work/half.img" "$((files / 2))"
compare_quick_scans

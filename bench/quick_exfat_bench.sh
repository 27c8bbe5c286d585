#!/usr/bin/env bash
# Quick exFAT scan speed and memory against The Sleuth Kit's `fls -r -d` on the
# same exFAT image in the same run. The image holds FILES files in FOLDERS
# folders (default 50,000 in 100), half of them deleted, made by mkfs.exfat and
# written through exfat-fuse on a loop device (needs root). A second image of
# half the size shows whether peak memory grows with the number of files.
#
#   bench/quick_exfat_bench.sh [BUILD_DIR]      (default: build)
#   FILES=50000 FOLDERS=100 RUNS=3 bench/quick_exfat_bench.sh
#
# Goal: Sorvane takes at most half of fls's time; its peak memory does not
# grow with the number of files.
#
# Measured (RUNS=3, a busy two-core machine): 50,000 files, 25,000 deleted,
# both listed in full; sorvane/fls time 0.03 (0.22 s vs 8.16 s); peak memory
# 5,804 KiB vs 5,040 KiB for half as many files (1.15 times). The engine's own
# tables follow the volume (two cluster bitmaps); what grows is the scan log's
# in-memory list of every folder's children, shared by all engines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
sorvane="$build/cli/sorvane"
files=${FILES:-50000}
folders=${FOLDERS:-100}
runs=${RUNS:-3}
for tool in mkfs.exfat mount.exfat-fuse losetup fls /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ "$(id -u)" = 0 ] || { echo "needs root (a loop device and a FUSE mount)" >&2; exit 1; }
[ -x "$sorvane" ] || { echo "build $sorvane first (ninja -C $build sorvane)" >&2; exit 1; }

work=$(mktemp -d)
loop=""
cleanup() {
    mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"
    [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
export SORVANE_DATA_DIR="$work/data"
mkdir -p "$work/mnt"

# make_image IMAGE FILES: FOLDERS folders of files, every second file deleted.
make_image() {
    local image=$1 count=$2 per=$(( $2 / folders ))
    truncate -s 1G "$image"
    mkfs.exfat -c 4096 "$image" >/dev/null
    loop=$(losetup -f --show "$image")
    mount.exfat-fuse "$loop" "$work/mnt"
    for ((d = 0; d < folders; d++)); do
        local dir
        dir=$(printf '%s/folder%03d' "$work/mnt" "$d")
        mkdir "$dir"
        for ((f = 0; f < per; f++)); do
            # Two names per pair: a kept photo and a deleted document.
            if (( f % 2 == 0 )); then
                printf 'kept %d %d\n' "$d" "$f" > "$(printf '%s/keep%05d.jpg' "$dir" "$f")"
            else
                printf 'gone %d %d\n' "$d" "$f" > "$(printf '%s/gone%05d.txt' "$dir" "$f")"
            fi
        done
        rm -f "$dir"/gone*.txt
    done
    umount "$work/mnt"
    losetup -d "$loop"
    loop=""
}

source "$root/bench/quick_scan_compare.sh"

echo "making images ($files and $((files / 2)) files in $folders folders, half deleted) ..." >&2
make_image "$work/big.img" "$files"
make_image "$work/half.img" "$((files / 2))"
compare_quick_scans

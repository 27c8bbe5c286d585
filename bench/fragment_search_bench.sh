#!/usr/bin/env bash
# Time the two-piece search adds to a quick FAT scan, in the same run: two
# cards made by mkfs.fat and mtools hold the same COUNT deleted PNG pictures,
# each copied into two holes left by deleted files. On the plain card the
# file between each picture's pieces is still there, so the free clusters
# from its first cluster on are the picture and the first check passes; on
# the fragmented card that file is deleted too and every picture has to be
# put back together. Prints both scan times (best of RUNS), the pictures
# rebuilt, and the time added per rebuilt picture. As root, with mkfs.exfat
# and exfat-fuse, the same is measured on two exFAT cards written through a
# loop device (exfat-fuse clears a deleted file's FAT chain, so each picture
# is put back together from the free clusters of the allocation bitmap).
#
#   bench/fragment_search_bench.sh [BUILD_DIR]      (default: build)
#   COUNT=40 RUNS=3 bench/fragment_search_bench.sh
#   REFERENCE=/path/to/older/sorvane bench/fragment_search_bench.sh   (also times it on the plain card)
#   EXFAT=0 bench/fragment_search_bench.sh          (FAT cards only)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
sorvane="$build/cli/sorvane"
count=${COUNT:-40}
runs=${RUNS:-3}
for tool in mkfs.fat mcopy mdel convert; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$sorvane" ] || { echo "build $sorvane first (ninja -C $build sorvane)" >&2; exit 1; }

work=$(mktemp -d)
loop=""
cleanup() {
    if [ -n "$loop" ]; then
        umount "$work/mnt" 2>/dev/null || true
        losetup -d "$loop" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
export MTOOLS_SKIP_CHECK=1 SORVANE_DATA_DIR="$work/data"
cd "$work"

cluster=1024
min=0 max=0
for ((i = 1; i <= count; i++)); do
    convert -size 80x80 plasma:fractal -seed "$i" "p$i.png" 2>/dev/null
    n=$(( ($(stat -c %s "p$i.png") + cluster - 1) / cluster ))
    (( min == 0 || n < min )) && min=$n
    (( n > max )) && max=$n
done
hole=$(( (max + 1) / 2 + 1 ))
(( hole < min )) || { echo "pictures too unequal in size for two holes" >&2; exit 1; }
head -c $(( hole * cluster )) /dev/urandom > fill.bin

# make_card IMAGE FRAGMENTED: 4 x COUNT fills, every second one deleted, the
# pictures copied into the holes two by two, then deleted (and, when
# FRAGMENTED, the fills between their pieces as well).
make_card() {
    local image=$1 fragmented=$2 fills=$(( 4 * count ))
    # In KiB; FAT16 needs at least 4085 clusters.
    local kib=$(( fills * hole + 2048 ))
    (( kib < 8192 )) && kib=8192
    mkfs.fat -F 16 -s 2 -C "$image" "$kib" >/dev/null
    local args=()
    for ((f = 1; f <= fills; f++)); do cp fill.bin "f$f.bin"; args+=("f$f.bin"); done
    mcopy -i "$image" "${args[@]}" ::/
    args=()
    for ((f = 2; f <= fills; f += 2)); do args+=("::/f$f.bin"); done
    mdel -i "$image" "${args[@]}"
    for ((i = 1; i <= count; i++)); do mcopy -i "$image" "p$i.png" "::/picture $i.png"; done
    args=()
    for ((i = 1; i <= count; i++)); do args+=("::/picture $i.png"); done
    if [ "$fragmented" = 1 ]; then
        # Picture i lies in holes 2i-1 and 2i; the fill between them is f(4i-1).
        for ((i = 1; i <= count; i++)); do args+=("::/f$((4 * i - 1)).bin"); done
    fi
    mdel -i "$image" "${args[@]}"
}

make_card plain.img 0
make_card fragmented.img 1

# best_scan IMAGE [PROGRAM]: the shortest of RUNS quick scans, in seconds; leaves the listing in IMAGE.txt.
best_scan() {
    local program=${2:-$sorvane}
    local best=""
    for ((r = 0; r < runs; r++)); do
        local start end
        start=$(date +%s.%N)
        "$program" scan --quick "$1" > "$1.txt" 2>/dev/null
        end=$(date +%s.%N)
        best=$(echo "$start $end $best" | awk '{t = $2 - $1; if ($3 == "" || t < $3) print t; else print $3}')
    done
    echo "$best"
}

if [ -n "${REFERENCE:-}" ]; then
    reference=$(best_scan plain.img "$REFERENCE")
    echo "plain card scan by the reference program: ${reference}s"
fi
plain=$(best_scan plain.img)
fragmented=$(best_scan fragmented.img)
whole_plain=$(grep -c 'picture .*\.png' plain.img.txt | head -1)
rebuilt=$(grep -c 'rebuilt from 2 pieces' fragmented.img.txt || true)
echo "pictures: $count (each $min-$max clusters of $cluster bytes, holes of $hole)"
echo "plain card scan:      ${plain}s ($whole_plain pictures listed, $(grep -c 'whole' plain.img.txt || true) whole)"
echo "fragmented card scan: ${fragmented}s ($rebuilt rebuilt from 2 pieces)"
awk -v p="$plain" -v f="$fragmented" -v n="$rebuilt" -v r="${reference:-}" 'BEGIN {
    printf "ratio fragmented/plain: %.2f\n", f / p
    if (r != "") printf "ratio plain/reference: %.2f\n", p / r
    if (n > 0) printf "time added per rebuilt picture: %.1f ms\n", (f - p) * 1000 / n }'

# The same on exFAT cards of 4-KiB clusters, where the machine lets a loop
# device be mounted through FUSE.
if [ "${EXFAT:-1}" = 0 ] || [ "$(id -u)" != 0 ] || ! command -v mkfs.exfat >/dev/null ||
    ! command -v mount.exfat-fuse >/dev/null; then
    echo "exFAT cards: skipped (needs root, mkfs.exfat and mount.exfat-fuse)"
    exit 0
fi
xcluster=4096 xmin=0 xmax=0
for ((i = 1; i <= count; i++)); do
    n=$(( ($(stat -c %s "p$i.png") + xcluster - 1) / xcluster ))
    (( xmin == 0 || n < xmin )) && xmin=$n
    (( n > xmax )) && xmax=$n
done
xhole=$(( (xmax + 1) / 2 + 1 ))
(( xhole < xmin )) || { echo "pictures too unequal in size for two exFAT holes" >&2; exit 1; }
head -c $(( xhole * xcluster )) /dev/urandom > xfill.bin
mkdir -p mnt

# make_exfat_card IMAGE FRAGMENTED: as make_card, written through exfat-fuse.
make_exfat_card() {
    local image=$1 fragmented=$2 fills=$(( 4 * count ))
    truncate -s $(( (fills * xhole + 1024) * xcluster )) "$image"
    mkfs.exfat -c "$xcluster" "$image" >/dev/null
    loop=$(losetup -f --show "$image")
    mount.exfat-fuse "$loop" mnt 2>/dev/null
    for ((f = 1; f <= fills; f++)); do cp xfill.bin "mnt/f$f.bin"; done
    for ((f = 2; f <= fills; f += 2)); do rm "mnt/f$f.bin"; done
    for ((i = 1; i <= count; i++)); do cp "p$i.png" "mnt/picture $i.png"; done
    for ((i = 1; i <= count; i++)); do
        rm "mnt/picture $i.png"
        if [ "$fragmented" = 1 ]; then rm "mnt/f$((4 * i - 1)).bin"; fi
    done
    umount mnt
    losetup -d "$loop"
    loop=""
}

make_exfat_card xplain.img 0
make_exfat_card xfragmented.img 1
xplain_time=$(best_scan xplain.img)
xfragmented_time=$(best_scan xfragmented.img)
xrebuilt=$(grep -c 'rebuilt from 2 pieces' xfragmented.img.txt || true)
echo "exFAT pictures: $count (each $xmin-$xmax clusters of $xcluster bytes, holes of $xhole)"
echo "exFAT plain card scan:      ${xplain_time}s ($(grep -c 'whole' xplain.img.txt || true) whole)"
echo "exFAT fragmented card scan: ${xfragmented_time}s ($xrebuilt rebuilt from 2 pieces)"
awk -v p="$xplain_time" -v f="$xfragmented_time" -v n="$xrebuilt" 'BEGIN {
    printf "exFAT ratio fragmented/plain: %.2f\n", f / p
    if (n > 0) printf "exFAT time added per rebuilt picture: %.1f ms\n", (f - p) * 1000 / n }'

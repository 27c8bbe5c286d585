#!/usr/bin/env bash
# Measures the deep scan against the read ceiling (`cat IMAGE > /dev/null`) and
# against the carvers foremost (`foremost -q`, sector-aligned mode) and PhotoRec
# (batch mode), all on the same multi-GiB image of random data (what the free
# space of a used card looks like) with a few hundred pictures, PDFs and ZIPs
# written into it: once with the page cache dropped before every reader (when
# the system allows it) and once with the image cached. Reports each rate, the
# ratios, Sorvane's peak memory, and how many of the written files each
# carver gives back byte for byte and how many bytes it writes.
#
# usage: bench/deep_scan_bench.sh BUILD_DIR [SIZE_MIB] [FILES] [OTHER_BUILD_DIR]
#   BUILD_DIR holds cli/sorvane (its `scan --deep` is measured) or, before the
#   command line can scan deeply, bench/deep_scan_driver. OTHER_BUILD_DIR, when
#   given, holds another build (an earlier version) measured in the same run.
#   SORVANE_BENCH_PHOTOREC=0 leaves PhotoRec out (its run takes the longest).
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [SIZE_MIB] [FILES] [OTHER_BUILD_DIR]}
size_mib=${2:-3072}
files=${3:-300}
other=${4:-}
work=$(mktemp -d /tmp/sorvane-deep-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SORVANE_DATA_DIR="$work/data"

scanner_of() {
    local dir=$1
    if [ -x "$dir/cli/sorvane" ] && "$dir/cli/sorvane" scan --help 2>&1 | grep -q -- --deep; then
        echo "$dir/cli/sorvane"
    elif [ -x "$dir/bench/deep_scan_driver" ]; then
        echo "$dir/bench/deep_scan_driver"
    else
        echo "neither $dir/cli/sorvane with --deep nor $dir/bench/deep_scan_driver found" >&2
        exit 1
    fi
}
declare -A scanners
scanners[sorvane]=$(scanner_of "$build")
[ -n "$other" ] && scanners[other]=$(scanner_of "$other")

image="$work/image.img"
echo "making a ${size_mib} MiB image of random data in $work"
head -c $((64 << 20)) /dev/urandom > "$work/block"
for ((i = 0; i < size_mib / 64; i++)); do cat "$work/block"; done > "$image"
rm -f "$work/block"
bytes=$(stat -c %s "$image")
sectors=$((bytes / 512))

echo "writing $files pictures, PDFs and ZIPs into it at random sector offsets"
samples=()
if command -v convert > /dev/null; then
    for k in 0 1 2 3 4 5 6 7; do
        convert -size $((320 + 80 * k))x$((240 + 60 * k)) plasma:fractal -seed "$k" -quality 90 "$work/p$k.jpg" \
            2> /dev/null && samples+=("$work/p$k.jpg")
        if command -v exiftool > /dev/null && [ -f "$work/p$k.jpg" ]; then
            # A camera picture: an Exif segment with a thumbnail, itself a JPEG.
            convert "$work/p$k.jpg" -resize 80x60 "$work/t$k.jpg" 2> /dev/null &&
                cp "$work/p$k.jpg" "$work/e$k.jpg" &&
                exiftool -q -overwrite_original -JFIF:all= -Make=Bench "-ThumbnailImage<=$work/t$k.jpg" \
                    "$work/e$k.jpg" && samples+=("$work/e$k.jpg")
        fi
        convert -size $((200 + 40 * k))x$((150 + 30 * k)) plasma:fractal -seed "$((k + 20))" "$work/p$k.png" \
            2> /dev/null && samples+=("$work/p$k.png")
        [ -f "$work/p$k.jpg" ] && convert "$work/p$k.jpg" "$work/d$k.pdf" 2> /dev/null && samples+=("$work/d$k.pdf")
        if command -v zip > /dev/null && [ -f "$work/p$k.png" ]; then
            seq 1 $((2000 * (k + 1))) > "$work/n$k.txt"
            (cd "$work" && echo "bench archive $k" | zip -q -X -z "a$k.zip" "p$k.png" "n$k.txt") && samples+=("$work/a$k.zip")
        fi
    done
fi
if [ ${#samples[@]} -eq 0 ]; then
    echo "ImageMagick (convert) is needed to make the samples" >&2
    exit 1
fi
RANDOM=42
written_bytes=0
for ((i = 0; i < files; i++)); do
    p=${samples[$((i % ${#samples[@]}))]}
    # Spread evenly, each in its own slot, so no file overwrites another.
    slot=$((sectors / files))
    at=$((i * slot + (RANDOM % (slot / 2))))
    dd if="$p" of="$image" bs=512 seek="$at" conv=notrunc status=none
    written_bytes=$((written_bytes + $(stat -c %s "$p")))
done
sha256sum "${samples[@]}" | cut -d' ' -f1 | sort -u > "$work/truth"
sync

if (sync && echo 3 > /proc/sys/vm/drop_caches) 2> /dev/null; then
    can_drop=1
else
    can_drop=0
    echo "dropping the page cache is not allowed here: the cold runs start with the image cached"
fi
cold=1
prepare() {
    rm -rf "$work/out" "$work/data"
    sync
    if [ "$cold" = 1 ] && [ "$can_drop" = 1 ]; then echo 3 > /proc/sys/vm/drop_caches; fi
}

# Runs a command; prints "seconds peak_kib".
measure() {
    local t0 t1 rss
    t0=$(date +%s.%N)
    /usr/bin/time -f "%M" -o "$work/rss" "$@" > "$work/last.out" 2> "$work/last.err" || true
    t1=$(date +%s.%N)
    rss=$(tail -n 1 "$work/rss")
    awk -v a="$t0" -v b="$t1" -v r="$rss" 'BEGIN { printf "%.3f %d\n", b - a, r }'
}
rate() { awk -v n="$bytes" -v t="$1" 'BEGIN { printf "%.1f", n / 1048576 / t }'; }

# Files under a folder that are byte for byte one of the written samples, and
# the bytes written there.
exact() {
    local dir=$1
    local n=0
    if [ -d "$dir" ]; then
        n=$(find "$dir" -type f ! -name audit.txt ! -name report.xml -exec sha256sum {} + | cut -d' ' -f1 |
            grep -c -x -F -f "$work/truth" || true)
    fi
    local total
    total=$(du -sb "$dir" 2> /dev/null | cut -f1 || echo 0)
    echo "$n files byte-exact, $(awk -v b="$total" 'BEGIN { printf "%.0f", b / 1048576 }') MiB written"
}

declare -A seconds peak
run() {
    local name=$1
    shift
    prepare
    read -r s m < <(measure "$@")
    seconds[$name]=$s
    peak[$name]=$m
    printf "%-20s %9.3f s  %9s MiB/s  peak %7.1f MiB\n" "$name" "$s" "$(rate "$s")" "$(awk -v k="$m" 'BEGIN { print k / 1024 }')"
}

for pass in cold warm; do
    if [ "$pass" = warm ]; then
        cold=0
        cat "$image" > /dev/null
        echo "-- image in the page cache"
    else
        echo "-- page cache dropped before every reader"
    fi
    run "cat/$pass" sh -c "cat '$image' > /dev/null"
    for who in "${!scanners[@]}"; do
        s=${scanners[$who]}
        if [ "${s##*/}" = sorvane ]; then
            run "$who/$pass" "$s" scan --deep --fresh "$image"
            echo "                     $who listed $(grep -c . "$work/last.out" || true) files"
        else
            run "$who/$pass" "$s" "$image"
        fi
    done
    if command -v foremost > /dev/null; then
        run "foremost/$pass" foremost -q -i "$image" -o "$work/out"
        echo "                     foremost: $(exact "$work/out")"
    fi
    if [ "$pass" = cold ] && [ "${SORVANE_BENCH_PHOTOREC:-1}" != 0 ] && command -v photorec > /dev/null; then
        # PhotoRec writes into "<dir>.1" and needs its parent folder to exist.
        run photorec/cold sh -c "mkdir -p '$work/out' && cd '$work' && photorec /log /d '$work/out/rec' /cmd '$image' \
            partition_none,fileopt,everything,enable,wholespace,search"
        echo "                     photorec: $(exact "$work/out")"
    fi
done

echo
echo "$files files written, $(awk -v b="$written_bytes" 'BEGIN { printf "%.0f", b / 1048576 }') MiB"
for who in "${!scanners[@]}"; do
    s=${scanners[$who]}
    if [ "${s##*/}" = sorvane ]; then
        rm -rf "$work/rec" "$work/data"
        "$s" recover --deep --fresh --to "$work/rec" "$image" > /dev/null 2>&1 || true
        echo "$who recovers: $(exact "$work/rec")"
        rm -rf "$work/rec"
    fi
done

echo
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }
for who in "${!scanners[@]}"; do
    echo "$who rate / cat rate, cold:       $(ratio "${seconds[$who/cold]}" "${seconds[cat/cold]}")  (goal >= 0.8)"
    echo "$who rate / cat rate, warm:       $(ratio "${seconds[$who/warm]}" "${seconds[cat/warm]}")  (goal >= 0.75)"
    [ -n "${seconds[foremost/warm]:-}" ] &&
        echo "$who rate / foremost rate, warm: $(ratio "${seconds[$who/warm]}" "${seconds[foremost/warm]}")  (goal >= 2)"
    [ -n "${seconds[photorec/cold]:-}" ] &&
        echo "$who rate / photorec rate, cold: $(ratio "${seconds[$who/cold]}" "${seconds[photorec/cold]}")"
    echo "$who peak memory:                $(awk -v k="${peak[$who/cold]}" 'BEGIN { printf "%.1f MiB", k / 1024 }')  (goal < 50 MiB)"
done

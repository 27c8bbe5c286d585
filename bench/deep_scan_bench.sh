#!/usr/bin/env bash
# Measures the deep scan against the read ceiling (`cat IMAGE > /dev/null`) and
# against the carvers foremost (`foremost -q`, sector-aligned mode) and PhotoRec
# (batch mode), all on the same multi-GiB image of mostly random data with a
# few hundred pictures written into it, with the page cache dropped before
# every reader when the system allows it. Reports each rate, the ratios, and
# Sorvane's peak memory.
#
# usage: bench/deep_scan_bench.sh BUILD_DIR [SIZE_MIB] [FILES]
#   BUILD_DIR holds cli/sorvane (its `scan --deep` is measured) or, before the
#   command line can scan deeply, bench/deep_scan_driver.
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [SIZE_MIB] [FILES]}
size_mib=${2:-3072}
files=${3:-300}
work=$(mktemp -d /tmp/sorvane-deep-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SORVANE_DATA_DIR="$work/data"

scanner=()
if [ -x "$build/cli/sorvane" ] && "$build/cli/sorvane" scan --help 2>&1 | grep -q -- --deep; then
    scanner=("$build/cli/sorvane" scan --deep --fresh)
elif [ -x "$build/bench/deep_scan_driver" ]; then
    scanner=("$build/bench/deep_scan_driver")
else
    echo "neither $build/cli/sorvane with --deep nor $build/bench/deep_scan_driver found" >&2
    exit 1
fi

image="$work/image.img"
echo "making a ${size_mib} MiB image of random data in $work"
head -c $((64 << 20)) /dev/urandom > "$work/block"
for ((i = 0; i < size_mib / 64; i++)); do cat "$work/block"; done > "$image"
rm -f "$work/block"
bytes=$(stat -c %s "$image")
sectors=$((bytes / 512))

echo "writing $files pictures into it at random sector offsets"
pictures=()
if command -v convert > /dev/null; then
    for k in 0 1 2 3 4 5 6 7; do
        convert -size $((160 + 40 * k))x$((120 + 30 * k)) plasma:fractal -seed "$k" "$work/p$k.jpg" 2> /dev/null &&
            pictures+=("$work/p$k.jpg")
        convert -size $((100 + 20 * k))x$((80 + 10 * k)) gradient:red-blue "$work/p$k.png" 2> /dev/null &&
            pictures+=("$work/p$k.png")
    done
fi
if [ ${#pictures[@]} -eq 0 ]; then
    echo "ImageMagick (convert) is needed to make the pictures" >&2
    exit 1
fi
RANDOM=42
for ((i = 0; i < files; i++)); do
    p=${pictures[$((i % ${#pictures[@]}))]}
    # Spread evenly, each in its own slot, so no picture overwrites another.
    slot=$((sectors / files))
    at=$((i * slot + (RANDOM % (slot / 2))))
    dd if="$p" of="$image" bs=512 seek="$at" conv=notrunc status=none
done
sync

if (sync && echo 3 > /proc/sys/vm/drop_caches) 2> /dev/null; then
    cold=1
    echo "page cache dropped before every reader"
else
    cold=0
    echo "dropping the page cache is not allowed here: every reader starts with the image cached"
    cat "$image" > /dev/null
fi
prepare() {
    rm -rf "$work/out" "$work/data"
    sync
    if [ "$cold" = 1 ]; then echo 3 > /proc/sys/vm/drop_caches; fi
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

declare -A seconds peak
run() {
    local name=$1
    shift
    prepare
    read -r s m < <(measure "$@")
    seconds[$name]=$s
    peak[$name]=$m
    printf "%-14s %9.3f s  %9s MiB/s  peak %7.1f MiB\n" "$name" "$s" "$(rate "$s")" "$(awk -v k="$m" 'BEGIN { print k / 1024 }')"
}

run cat sh -c "cat '$image' > /dev/null"
run sorvane "${scanner[@]}" "$image"
if [ "${scanner[0]##*/}" = sorvane ]; then
    echo "               sorvane listed $(grep -c . "$work/last.out" || true) files"
else
    grep -E "found" "$work/last.out" | tail -n 1 || true
fi
if command -v foremost > /dev/null; then
    run foremost foremost -q -i "$image" -o "$work/out"
    found=$(find "$work/out" -type f ! -name audit.txt | wc -l)
    echo "               foremost carved $found files"
else
    echo "foremost is not installed (Debian package foremost): skipped"
fi
if command -v photorec > /dev/null; then
    # PhotoRec writes into "<dir>.1" and needs its parent folder to exist.
    run photorec sh -c "mkdir -p '$work/out' && cd '$work' && photorec /log /d '$work/out/rec' /cmd '$image' \
        partition_none,fileopt,everything,enable,wholespace,search"
    found=$(find "$work/out" -type f ! -name report.xml | wc -l)
    echo "               photorec carved $found files"
else
    echo "PhotoRec is not installed (Debian package testdisk): skipped"
fi

echo
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }
echo "sorvane rate / cat rate:      $(ratio "${seconds[sorvane]}" "${seconds[cat]}")  (goal >= 0.8)"
[ -n "${seconds[foremost]:-}" ] && echo "sorvane rate / foremost rate: $(ratio "${seconds[sorvane]}" "${seconds[foremost]}")  (goal >= 2)"
[ -n "${seconds[photorec]:-}" ] && echo "sorvane rate / photorec rate: $(ratio "${seconds[sorvane]}" "${seconds[photorec]}")"
echo "sorvane peak memory:          $(awk -v k="${peak[sorvane]}" 'BEGIN { printf "%.1f MiB", k / 1024 }')  (goal < 200 MiB)"

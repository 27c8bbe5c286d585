#!/usr/bin/env bash
# Measures the quick NTFS scan against The Sleuth Kit's `fls -r -d` (which
# lists the deleted entries of the same volume) on NTFS images made by mkntfs
# and libntfs-3g (the toolkit's ntfs_edit): FILES small files in 100 folders,
# every second one deleted, so the MFT holds FILES records and half of them
# are deleted files. A second image with a quarter of the files shows whether
# peak memory grows with the number of records. Each reader runs three times
# on a warm page cache; the best time and the peak resident memory
# (/usr/bin/time -v) are reported, with the ratios.
#
# usage: bench/quick_ntfs_bench.sh BUILD_DIR [FILES]
#   BUILD_DIR holds tests/sorvane_ntfs_edit and bench/quick_ntfs_driver; when
#   it also holds cli/sorvane, `sorvane scan --quick` is measured too.
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [FILES]}
files=${2:-100000}
edit="$build/tests/sorvane_ntfs_edit"
driver="$build/bench/quick_ntfs_driver"
for tool in "$edit" "$driver"; do
    [ -x "$tool" ] || { echo "missing $tool (build it first)" >&2; exit 1; }
done
for tool in fls mkntfs /usr/bin/time; do
    command -v "$tool" > /dev/null || { echo "missing $tool" >&2; exit 1; }
done
work=$(mktemp -d /tmp/sorvane-ntfs-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SORVANE_DATA_DIR="$work/data"

# make_image PATH COUNT: COUNT files of 40 bytes in 100 folders, every second deleted.
make_image() {
    local image=$1 count=$2 per=$(( ($2 + 99) / 100 ))
    truncate -s 2G "$image"
    mkntfs -F -Q -q "$image" > /dev/null 2>&1
    head -c 40 /dev/urandom > "$work/payload"
    {
        for ((d = 0; d < 100; d++)); do echo -e "mkdir\t/folder $d"; done
        for ((i = 0; i < count; i++)); do
            echo -e "put\t$work/payload\t/folder $((i / per))/file $i.txt"
        done
        for ((i = 0; i < count; i += 2)); do echo -e "rm\t/folder $((i / per))/file $i.txt"; done
    } > "$work/script"
    "$edit" "$image" "$work/script" > /dev/null
}

# measure LABEL COMMAND...: best wall time of 3 runs (seconds) and peak RSS (KiB).
measure() {
    local label=$1; shift
    local best="" rss=0
    for run in 1 2 3; do
        /usr/bin/time -v -o "$work/time.txt" "$@" > "$work/out.txt" 2> "$work/err.txt"
        local wall kib
        wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {
            n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/time.txt")
        kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$wall; fi
        [ "$kib" -gt "$rss" ] && rss=$kib
    done
    printf '%-10s %8.3f s  %8d KiB  %s lines\n' "$label" "$best" "$rss" "$(wc -l < "$work/out.txt")"
    eval "${label//-/_}_time=$best; ${label//-/_}_rss=$rss"
}

small=$((files / 4))
echo "making images with $small and $files files in $work (libntfs-3g)"
make_image "$work/small.img" "$small"
make_image "$work/large.img" "$files"

for size in small large; do
    image="$work/$size.img"
    records=$("$driver" "$image" 2>&1 > /dev/null | sed -n 's/.*MFT records \([0-9]*\).*/\1/p')
    echo "== $size image: $records MFT records"
    cat "$image" > /dev/null
    measure fls fls -r -d "$image"
    measure sorvane "$driver" "$image" --list
    measure sorvane-scan "$driver" "$image"
    if [ -x "$build/cli/sorvane" ]; then
        measure sorvane-cli "$build/cli/sorvane" scan --quick "$image"
        awk -v c="$sorvane_cli_time" -v f="$fls_time" 'BEGIN { printf "ratio      sorvane scan --quick / fls = %.3f\n", c / f }'
    fi
    awk -v s="$sorvane_time" -v f="$fls_time" -v q="$sorvane_scan_time" \
        'BEGIN { printf "ratio      sorvane (scan + list) / fls = %.3f   scan only / fls = %.3f\n", s / f, q / f }'
    eval "${size}_rss=$sorvane_rss"
done
awk -v a="$small_rss" -v b="$large_rss" \
    'BEGIN { printf "peak memory: %d KiB with a quarter of the records, %d KiB with all (x%.2f)\n", a, b, b / a }'

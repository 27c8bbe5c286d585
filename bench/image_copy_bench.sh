#!/usr/bin/env bash
# Measures `sorvane image` against `dd bs=1M` copying the same multi-GiB image
# file in the same run. Both flush the copy to the medium before they stop
# (dd with conv=fsync), so both are timed to the same point.
#
# usage: bench/image_copy_bench.sh SORVANE_BINARY [SIZE_MIB] [ROUNDS]
set -euo pipefail

sorvane=${1:?usage: $0 SORVANE_BINARY [SIZE_MIB] [ROUNDS]}
size_mib=${2:-2048}
rounds=${3:-3}
work=$(mktemp -d /tmp/sorvane-image-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

source="$work/source.img"
echo "making a ${size_mib} MiB source of random-ish data in $work"
# A 64 MiB random block repeated: incompressible for any layer below, cheap to make.
head -c $((64 << 20)) /dev/urandom > "$work/block"
for ((i = 0; i < size_mib / 64; i++)); do cat "$work/block"; done > "$source"
rm -f "$work/block"
bytes=$(stat -c %s "$source")

if (sync && echo 3 > /proc/sys/vm/drop_caches) 2>/dev/null; then
    cold=1
    echo "page cache dropped before every run"
else
    cold=0
    echo "dropping the page cache is not allowed here: the source is read once before every run so both start warm"
fi

prepare() {
    rm -f "$work/out.img"
    sync
    if [ "$cold" = 1 ]; then echo 3 > /proc/sys/vm/drop_caches; else cat "$source" > /dev/null; fi
}

# Seconds (with nanoseconds) one command takes.
timed() {
    local t0 t1
    t0=$(date +%s.%N)
    "$@" > /dev/null 2>&1
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f\n", b - a }'
}

dd_times=()
sorvane_times=()
for ((r = 1; r <= rounds; r++)); do
    # Alternate the order so neither tool always runs on a fresher system.
    for tool in $( ((r % 2)) && echo "dd sorvane" || echo "sorvane dd"); do
        prepare
        if [ "$tool" = dd ]; then
            t=$(timed dd if="$source" of="$work/out.img" bs=1M conv=fsync)
            dd_times+=("$t")
        else
            t=$(timed "$sorvane" image "$source" "$work/out.img")
            cmp -s "$source" "$work/out.img" || { echo "sorvane's image differs from the source" >&2; exit 1; }
            sorvane_times+=("$t")
        fi
        printf "round %d  %-8s %8.3f s  %8.1f MiB/s\n" "$r" "$tool" "$t" "$(awk -v n="$bytes" -v t="$t" 'BEGIN { print n / 1048576 / t }')"
    done
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
dd_median=$(median "${dd_times[@]}")
sorvane_median=$(median "${sorvane_times[@]}")
dd_rate=$(awk -v n="$bytes" -v t="$dd_median" 'BEGIN { print n / 1048576 / t }')
sorvane_rate=$(awk -v n="$bytes" -v t="$sorvane_median" 'BEGIN { print n / 1048576 / t }')
printf "median  dd bs=1M       %8.1f MiB/s\n" "$dd_rate"
printf "median  sorvane image  %8.1f MiB/s\n" "$sorvane_rate"
printf "ratio   sorvane / dd   %8.2f (goal: at least 0.90)\n" "$(awk -v a="$sorvane_rate" -v b="$dd_rate" 'BEGIN { print a / b }')"

#!/usr/bin/env bash
# Soak test of interrupted deep scans: ROUNDS deep scans of a 256 MiB FAT32
# image, each killed with SIGKILL at a random moment and then continued with
# --resume, must each end with the same file list as one uninterrupted scan
# made in the same run. Also counts how many rounds continued from a
# checkpoint rather than starting over (and from how far on average), and the
# time of killed + resumed scan against the uninterrupted one.
#
# usage: bench/resume_soak_bench.sh SORVANE_BINARY [ROUNDS] [SIZE_MIB] [SLOW_MS]
# SORVANE_BINARY must be the test build (build/cli/with_test_hooks/sorvane): the
# installed program does not take a read-fault plan.
# SLOW_MS > 0 makes every read of the image wait that long, as on a slow card,
# so that kills fall later in the search than the first checkpoints.
set -euo pipefail

sorvane=$(realpath "${1:?usage: $0 SORVANE_BINARY [ROUNDS] [SIZE_MIB]}")
rounds=${2:-20}
size_mib=${3:-256}
slow_ms=${4:-0}
work=$(mktemp -d /tmp/sorvane-soak.XXXXXX)
trap 'rm -rf "$work"' EXIT

image="$work/card.img"
echo "making a ${size_mib} MiB FAT32 image with deleted files in $work"
truncate -s "${size_mib}M" "$image"
mkfs.fat -F 32 -s 1 "$image" >/dev/null 2>&1
mkdir -p "$work/files"
for i in $(seq 1 120); do
    # A JPEG header and end so that the content search finds them too.
    { printf '\xff\xd8\xff\xe0\x00\x10JFIF\x00'; head -c $((20000 + i * 997)) /dev/urandom; printf '\xff\xd9'; } \
        > "$work/files/photo$i.jpg"
done
mmd -i "$image" ::DCIM
mcopy -i "$image" "$work/files"/*.jpg ::DCIM/
for i in $(seq 1 2 120); do mdel -i "$image" "::DCIM/photo$i.jpg"; done
rm -rf "$work/files"
before=$(sha256sum "$image" | cut -d' ' -f1)
plan=""
if [ "$slow_ms" -gt 0 ]; then
    plan="$image:0-$((size_mib * 2048)):slow$slow_ms"
    echo "every read waits ${slow_ms} ms"
fi

# The list as the user sees it, independent of record numbering.
normalise() {
    python3 -c '
import json, sys
rows = set()
for line in sys.stdin:
    o = json.loads(line)
    if "name" in o:
        rows.add((o["folderPath"], o["name"], o["size"], o["location"], o["engineCode"]))
for r in sorted(rows):
    print(r)
'
}

t0=$(date +%s.%N)
SORVANE_FAULT_PLAN="$plan" SORVANE_DATA_DIR="$work/ref" "$sorvane" scan --fresh --json "$image" 2>/dev/null </dev/null |
    normalise > "$work/ref.txt"
t1=$(date +%s.%N)
reference=$(echo "$t1 - $t0" | bc)
echo "uninterrupted deep scan: $(wc -l < "$work/ref.txt") files in ${reference} s"

same=0
continued=0
from_sum=0
total=0
for ((r = 1; r <= rounds; r++)); do
    data="$work/data$r"
    # A random moment within the uninterrupted scan's time.
    delay=$(python3 -c "import random; print(round(random.uniform(0.01, $reference), 3))")
    t0=$(date +%s.%N)
    SORVANE_FAULT_PLAN="$plan" SORVANE_DATA_DIR="$data" "$sorvane" scan --fresh --json "$image" >/dev/null 2>&1 </dev/null &
    pid=$!
    sleep "$delay"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    SORVANE_FAULT_PLAN="$plan" SORVANE_DATA_DIR="$data" "$sorvane" scan --resume --json "$image" 2>"$work/err.txt" </dev/null |
        normalise > "$work/got.txt"
    t1=$(date +%s.%N)
    # "continued the earlier deep scan of IMAGE from N % of its search"
    from=$(grep -o 'continued the earlier deep scan .* from [0-9]* %' "$work/err.txt" | grep -o '[0-9]* %$' | tr -dc 0-9 || true)
    if [ -n "$from" ]; then
        continued=$((continued + 1))
        from_sum=$((from_sum + from))
    fi
    total=$(echo "$total + $t1 - $t0" | bc)
    if cmp -s "$work/ref.txt" "$work/got.txt"; then
        same=$((same + 1))
    else
        echo "round $r (killed after ${delay} s): the list differs"
        diff "$work/ref.txt" "$work/got.txt" | head -5
    fi
done
after=$(sha256sum "$image" | cut -d' ' -f1)
[ "$before" = "$after" ] || { echo "THE IMAGE CHANGED"; exit 1; }
echo "rounds with the same list as the uninterrupted scan: $same of $rounds"
echo "rounds that continued from a checkpoint after the kill: $continued of $rounds"
[ "$continued" -gt 0 ] && echo "  on average from $((from_sum / continued)) % of the search"
echo "killed + resumed time against the uninterrupted scan: $(echo "scale=2; $total / $rounds / $reference" | bc)x"
[ "$same" = "$rounds" ]

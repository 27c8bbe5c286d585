#!/usr/bin/env bash
# How near the deep scan's "time left" comes to the truth: a 32 MiB card read
# slowly (every read waits SLOW_MS, as on a worn card) is scanned with
# --progress, each progress line is timed as it arrives, and every line given
# after the first second and before the last is compared with the time that
# really remained. Prints the share of estimates within a factor of 3 (+-1 s)
# and the median ratio said/true. Timing depends on the machine, which is why
# this is a benchmark and not a test.
#
# usage: bench/time_left_bench.sh SORVANE_TEST_BINARY [SLOW_MS]
# SORVANE_TEST_BINARY is build/cli/with_test_hooks/sorvane (it takes the
# read-fault plan that slows the reads).
set -euo pipefail
sorvane=$(realpath "${1:?usage: $0 SORVANE_TEST_BINARY [SLOW_MS]}")
slow=${2:-8}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
truncate -s 32M "$work/card.img"
start=$(date +%s.%N)
SORVANE_FAULT_PLAN="$work/card.img:0-65535:slow$slow" SORVANE_DATA_DIR="$work/data" \
    "$sorvane" scan --deep --fresh --progress "$work/card.img" </dev/null 2>&1 >/dev/null |
    while IFS= read -r -d $'\r' line; do
        echo "$(echo "$(date +%s.%N) - $start" | bc) $line"
    done >"$work/timed.txt"
echo "$(echo "$(date +%s.%N) - $start" | bc) end" >>"$work/timed.txt"
python3 - "$work/timed.txt" <<'PY'
import re, statistics, sys
lines = [l.rstrip("\n") for l in open(sys.argv[1], encoding="utf-8", errors="replace")]
end = float(lines[-1].split()[0])
judged, right, ratios = 0, 0, []
for l in lines[:-1]:
    at = float(l.split()[0])
    m = re.search(r"(\d+)%.*time left: (.*)$", l)
    if not m or at < 1.0 or end - at < 1.0 or int(m.group(1)) >= 100:
        continue
    rest = m.group(2)
    h = re.match(r"(\d+) Hour (\d+) Min", rest)
    mi = re.match(r"(\d+) Min (\d+) Sec", rest)
    s = re.match(r"(\d+) Sec", rest)
    said = (int(h[1]) * 3600 + int(h[2]) * 60) if h else (int(mi[1]) * 60 + int(mi[2])) if mi else int(s[1]) if s else None
    judged += 1
    if said is None:
        continue
    truth = end - at
    ratios.append(said / truth)
    if truth / 3 - 1 <= said <= truth * 3 + 1:
        right += 1
print(f"scan: {end:.1f} s; lines judged: {judged}; within 3x: {right} ({100 * right / max(judged, 1):.0f} %); "
      f"median said/true: {statistics.median(ratios) if ratios else float('nan'):.2f}")
PY

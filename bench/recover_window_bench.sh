#!/usr/bin/env bash
# Measures the recovery window's recovery of many found files against
# `sorvane recover --scan` of the same files, in the same run: an image of
# FILES small pictures one after another is deep-scanned once by the command
# line (the scan is kept), then its files are recovered from the kept scan by
# the command line and by the window (recover_window_driver, headless), each
# into a folder of its own. Reports both times, their ratio, and the files each wrote.
#
# usage: bench/recover_window_bench.sh BUILD_DIR [FILES]   (default 100000)
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [FILES]}
files=${2:-100000}
sorvane="$build/cli/sorvane"
driver="$build/bench/recover_window_driver"
[ -x "$sorvane" ] && [ -x "$driver" ] || { echo "build $sorvane and $driver first" >&2; exit 1; }
work=$(mktemp -d /tmp/sorvane-recover-window-bench.XXXXXX)
trap '[ -n "${SORVANE_BENCH_KEEP:-}" ] || rm -rf "$work"' EXIT
export SORVANE_DATA_DIR="$work/data" QT_QPA_PLATFORM=offscreen

magick=$(command -v magick || command -v convert)
"$magick" -size 16x16 gradient:'#3a7'-'#e94' -strip -quality 80 "$work/picture.jpg"
image="$work/card.img"
python3 - "$work/picture.jpg" "$image" "$files" <<'PY'
import sys
picture = open(sys.argv[1], 'rb').read()
slot = 1024
assert len(picture) <= slot, len(picture)
with open(sys.argv[2], 'wb') as out:
    out.write(bytes(1 << 20))
    for _ in range(int(sys.argv[3])):
        out.write(picture + bytes(slot - len(picture)))
    out.write(bytes(1 << 20))
PY
echo "image: $files pictures of $(stat -c %s "$work/picture.jpg") bytes in $(( $(stat -c %s "$image") >> 20 )) MiB"

seconds() { python3 -c 'import sys; print(f"{float(sys.argv[2]) - float(sys.argv[1]):.2f}")' "$@"; }

t0=$(date +%s.%N)
"$sorvane" scan --deep --fresh "$image" > "$work/list.txt" 2> "$work/scan.err" || true
t1=$(date +%s.%N)
id=$("$sorvane" scans --json | python3 -c 'import json, sys; print(json.loads(sys.stdin.readline())["id"])')
echo "deep scan (command line): $(seconds "$t0" "$t1") s, kept as scan $id"

t0=$(date +%s.%N)
"$sorvane" recover --scan "$id" --to "$work/cli" 2> "$work/recover.err" || true
t1=$(date +%s.%N)
cli=$(seconds "$t0" "$t1")
cli_files=$(find "$work/cli" -type f | wc -l)
echo "sorvane recover --scan: $cli s, $cli_files files written"

mkdir -p "$work/window"
out=$("$driver" "$image" "$work/window" 2>/dev/null)
echo "$out"
window=$(echo "$out" | sed -n 's/.*recovery \([0-9.]*\) s.*/\1/p')
window_files=$(find "$work/window" -type f | wc -l)
echo "window: $window_files files written"
python3 -c 'import sys; print(f"window / command line: {float(sys.argv[1]) / float(sys.argv[2]):.2f}")' "$window" "$cli"

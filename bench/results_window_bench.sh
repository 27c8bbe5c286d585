#!/usr/bin/env bash
# Measures the window's results page with many found files against reading
# the same kept scan with `sorvane scan --resume --json`, in the same run: for each
# count, an image of that many small pictures one after another is
# deep-scanned once by the command line (the scan is kept), listed again from
# the kept scan by the command line, and then opened by the window
# (results_window_driver, headless), which times each step a person waits for
# (results page, node, sort, search, folder view), the longest the event loop
# stood still in it, and the window's peak memory.
#
# usage: bench/results_window_bench.sh BUILD_DIR [COUNT...]   (default 100000 1000000)
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [COUNT...]}
shift
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(100000 1000000)
sorvane="$build/cli/sorvane"
driver="$build/bench/results_window_driver"
[ -x "$sorvane" ] && [ -x "$driver" ] || { echo "build $sorvane and $driver first" >&2; exit 1; }
work=$(mktemp -d /tmp/sorvane-results-window-bench.XXXXXX)
trap '[ -n "${SORVANE_BENCH_KEEP:-}" ] || rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

magick=$(command -v magick || command -v convert)
"$magick" -size 16x16 gradient:'#3a7'-'#e94' -strip -quality 80 "$work/picture.jpg"
seconds() { python3 -c 'import sys; print(f"{float(sys.argv[2]) - float(sys.argv[1]):.2f}")' "$@"; }

for files in "${counts[@]}"; do
    export SORVANE_DATA_DIR="$work/data-$files"
    image="$work/card-$files.img"
    python3 - "$work/picture.jpg" "$image" "$files" <<'PY'
import sys
picture = open(sys.argv[1], 'rb').read()
slot = 1024
assert len(picture) <= slot, len(picture)
with open(sys.argv[2], 'wb') as out:
    out.write(bytes(1 << 20))
    block = picture + bytes(slot - len(picture))
    for _ in range(int(sys.argv[3])):
        out.write(block)
    out.write(bytes(1 << 20))
PY
    echo "== $files pictures of $(stat -c %s "$work/picture.jpg") bytes in $(($(stat -c %s "$image") >> 20)) MiB"
    t0=$(date +%s.%N)
    "$sorvane" scan --deep --fresh "$image" > /dev/null 2> "$work/scan.err" || true
    t1=$(date +%s.%N)
    echo "deep scan (command line): $(seconds "$t0" "$t1") s"
    t0=$(date +%s.%N)
    # --resume shows a finished scan's results without scanning again.
    "$sorvane" scan --deep --resume --json "$image" > "$work/list.json" 2> "$work/list.err" || true
    t1=$(date +%s.%N)
    cli=$(seconds "$t0" "$t1")
    echo "the kept scan listed by sorvane scan --resume --json: $cli s, $(grep -c '"name"' "$work/list.json") files"
    # A name the numbered carved files hold a few of.
    name=$(sed -n '2000s/.*"name":"\([0-9]*\)\..*/\1/p' "$work/list.json" | cut -c1-5)
    out=$(/usr/bin/time -f "window peak %M KiB" "$driver" "$image" "${name:-1234}" 2>&1)
    echo "$out"
    python3 - "$cli" <<PY
import re, sys
cli = float(sys.argv[1])
for line in """$out""".splitlines():
    m = re.match(r"(.+?)\s+([0-9.]+) s\s+longest block\s+([0-9.]+) ms", line)
    if m:
        print(f"{m.group(1).strip():22s} / sorvane scan --resume --json: {float(m.group(2)) / cli:.2f}")
PY
    rm -f "$image"
done

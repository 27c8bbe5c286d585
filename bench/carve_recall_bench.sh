#!/usr/bin/env bash
# Recall of the deep scan on a mixed card image: every file the carving
# tests' scripts make (about sixty types and variants, by real tools) written
# between random bytes, each starting on a sector, recovered with
# `sorvane recover --deep`; counts the files that come back byte for byte and
# the bytes written. With a second build directory, both are measured on the
# same image.
#
# usage: bench/carve_recall_bench.sh BUILD_DIR [OTHER_BUILD_DIR]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
builds=("${1:?usage: $0 BUILD_DIR [OTHER_BUILD_DIR]}")
[ -n "${2:-}" ] && builds+=("$2")
work=$(mktemp -d /tmp/sorvane-recall-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SORVANE_DATA_DIR="$work/data"

bash "$here/carving/testdata/make_real_files.sh" "$work/files" > /dev/null 2>&1 || true
bash "$here/carving/testdata/make_structured_files.sh" "$work/files" > /dev/null 2>&1 || true
find "$work/files" -maxdepth 1 -type f ! -name '.*' -size +0 | sort > "$work/list"
count=$(wc -l < "$work/list")

# Random gaps of 4 to 67 sectors between the files, random bytes after each
# file's end in its last sector too.
image="$work/card.img"
RANDOM=7
: > "$image"
while read -r f; do
    head -c $(((4 + RANDOM % 64) * 512)) /dev/urandom >> "$image"
    cat "$f" >> "$image"
    size=$(stat -c %s "$f")
    pad=$(((512 - size % 512) % 512))
    [ "$pad" -gt 0 ] && head -c "$pad" /dev/urandom >> "$image"
done < "$work/list"
head -c $((64 * 512)) /dev/urandom >> "$image"
xargs -a "$work/list" -d '\n' sha256sum | cut -d' ' -f1 | sort -u > "$work/truth"
echo "$count files ($(du -sb "$work/files" | cut -f1) bytes) in a $(($(stat -c %s "$image") >> 20)) MiB image"

for b in "${builds[@]}"; do
    rm -rf "$work/rec" "$work/data"
    "$b/cli/sorvane" recover --deep --fresh --to "$work/rec" "$image" > /dev/null 2>&1 || true
    exact=$(find "$work/rec" -type f -exec sha256sum {} + 2> /dev/null | cut -d' ' -f1 | sort -u |
        grep -c -x -F -f "$work/truth" || true)
    written=$(du -sb "$work/rec" 2> /dev/null | cut -f1 || echo 0)
    echo "$b: $exact of $count files byte-exact, $((written >> 10)) KiB written"
    find "$work/rec" -type f -exec sha256sum {} + 2> /dev/null | cut -d' ' -f1 | sort -u > "$work/got"
    while read -r f; do
        grep -q -x -F "$(sha256sum "$f" | cut -d' ' -f1)" "$work/got" || echo "    not byte-exact: ${f##*/}"
    done < "$work/list"
done

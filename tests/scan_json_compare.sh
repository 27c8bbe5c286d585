#!/usr/bin/env bash
# Compares what two builds of the command line find on the public disk images:
#
#   tests/scan_json_compare.sh REFERENCE_SORVANE NEW_SORVANE [IMAGE_FOLDER]
#
# For every image (the .gz ones are decompressed into a scratch folder under
# $TMPDIR, never beside the checkout) and, for whole-disk images, every
# partition the image's mmls listing names, it runs `scan --json --fresh` (the
# deep scan) and `scan --json --quick` with each binary, each run in a fresh
# data folder, and compares the exit code, standard output and standard error.
# Nothing is ignored: the output holds no times or paths of the run itself, so
# any difference is a change of behaviour. Every image's SHA-256 is checked
# before and after, since the scans must never write to their source.
#
# Exits 0 when every run matched, 1 on any difference, 2 on a usage error.
#
# Compared with a build older than the current output, these differences are
# intended and not faults:
# - times: "created", "accessed" and "written" are ISO 8601 texts with the
#   offset ("2004-02-14T12:54:06+00:00", FAT times read as this machine's
#   local time), or null, where older builds printed raw 100 ns counts;
# - every line carries "content" (what the content check found: "whole",
#   "damaged", "not checked", "impossible") and "impossible" (true for an entry
#   no volume could hold); older lines end at "category";
# - exFAT images (exfat_win.raw, win_exfat_7.raw) list the deleted files
#   their directory entries describe; builds without the exFAT readers list
#   none of them;
# - a whole-disk image named without @START (ntfs-2m.raw, ntfs-lastaccess.raw)
#   is scanned partition by partition, each announced on stderr; older builds
#   read it as one range from sector 0.
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 REFERENCE_SORVANE NEW_SORVANE [IMAGE_FOLDER]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
reference=$(realpath "$1")
candidate=$(realpath "$2")
images=${3:-$here/../../shared/testdata/real}
for exe in "$reference" "$candidate"; do
    [ -x "$exe" ] || { echo "not an executable: $exe" >&2; exit 2; }
done
[ -d "$images" ] || { echo "no image folder: $images" >&2; exit 2; }
images=$(cd "$images" && pwd)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/scan_json_compare.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Partition starts (in sectors) that an mmls listing gives for file-system slots.
partition_starts() {
    [ -f "$1" ] || return 0
    awk '$2 ~ /^[0-9]+:[0-9]+$/ { print $3 + 0 }' "$1"
}

# run EXE OUTDIR ARGS...: one scan in a data folder of its own.
run() {
    local exe=$1 out=$2
    shift 2
    mkdir -p "$out" "$out.data"
    local status=0
    SORVANE_DATA_DIR="$out.data" "$exe" "$@" >"$out/stdout" 2>"$out/stderr" </dev/null || status=$?
    echo "$status" >"$out/status"
}

runs=0
failures=0
for source in "$images"/*.dd "$images"/*.raw "$images"/*.raw.gz; do
    [ -f "$source" ] || continue
    name=$(basename "$source" .gz)
    if [[ $source == *.gz ]]; then
        image="$scratch/$name"
        gzip -dc "$source" >"$image"
    else
        image=$source
    fi
    before=$(sha256sum <"$image")

    targets=("$image")
    for start in $(partition_starts "$images/$name.mmls.txt"); do
        targets+=("$image@$start")
    done
    for target in "${targets[@]}"; do
        label=$(basename "$target")
        for mode in deep quick; do
            if [ "$mode" = deep ]; then args=(scan --json --fresh "$target"); else args=(scan --json --quick "$target"); fi
            dir="$scratch/runs/$label.$mode"
            run "$reference" "$dir/reference" "${args[@]}"
            run "$candidate" "$dir/new" "${args[@]}"
            runs=$((runs + 1))
            result="same"
            for part in status stdout stderr; do
                if ! cmp -s "$dir/reference/$part" "$dir/new/$part"; then
                    result="DIFFERENT"
                    echo "--- $label ($mode): $part differs" >&2
                    diff "$dir/reference/$part" "$dir/new/$part" | head -n 20 >&2 || true
                fi
            done
            [ "$result" = same ] || failures=$((failures + 1))
            printf '%-32s %-5s exit %-3s %6s lines  %s\n' "$label" "$mode" "$(cat "$dir/reference/status")" \
                "$(wc -l <"$dir/reference/stdout")" "$result"
        done
    done

    if [ "$(sha256sum <"$image")" != "$before" ]; then
        echo "--- $name was changed by a scan" >&2
        failures=$((failures + 1))
    fi
    [[ $source == *.gz ]] && rm -f "$image"
done

if [ "$runs" -eq 0 ]; then
    echo "no images found in $images" >&2
    exit 2
fi
echo "$runs runs, $failures different"
[ "$failures" -eq 0 ]

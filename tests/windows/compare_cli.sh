#!/usr/bin/env bash
# Runs the same commands with the Linux build of the command line and with the
# Windows build under Wine, and fails on any difference: the classification,
# the quick and deep scans' JSON byte for byte, the recovered files (names,
# bytes and last-write times) and disk images copied with `image`.
#
#   compare_cli.sh LINUX_SORVANE WINDOWS_SORVANE_EXE TARGET...
#
# A TARGET is an image file (a .gz one is unpacked first) or IMAGE@START for a
# partition inside a whole-disk image. Both programs see the same time zone
# and each its own empty data folder.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run"
linux=$1
windows=$2
shift 2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/sorvane-compare.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TZ=UTC
failures=0
checks=0

fail() {
    echo "DIFFERENT: $*"
    failures=$((failures + 1))
}

run_linux() { SORVANE_DATA_DIR="$scratch/data-linux" "$linux" "$@"; }
run_windows() { SORVANE_DATA_DIR="$scratch/data-windows" WINEDEBUG=-all "$wine_run" "$windows" "$@"; }

# Both outputs of one command, with their exit statuses, must be equal.
same_output() {
    local label=$1
    shift
    local l="$scratch/out-linux" w="$scratch/out-windows" rl rw
    run_linux "$@" >"$l" 2>/dev/null
    rl=$?
    run_windows "$@" >"$w" 2>/dev/null
    rw=$?
    checks=$((checks + 1))
    if [ "$rl" != "$rw" ]; then
        fail "$label: exit status $rl on Linux, $rw on Windows"
    elif ! cmp -s "$l" "$w"; then
        fail "$label: output differs"
        diff <(head -c 4000 "$l") <(head -c 4000 "$w") | head -n 6
    fi
}

# Path, size, SHA-256 and last-write time of every file below a folder.
tree_listing() {
    (cd "$1" && find . -type f -print0 | sort -z | while IFS= read -r -d '' f; do
        printf '%s\t%s\t%s\n' "$f" "$(sha256sum <"$f" | cut -c1-64)" "$(stat -c %Y "$f")"
    done)
}

same_recovery() {
    local label=$1 target=$2
    local l="$scratch/recovered linux ü" w="$scratch/recovered windows ü"
    rm -rf "$l" "$w"
    run_linux recover --quick --keep-folders --to "$l" "$target" >/dev/null 2>&1
    run_windows recover --quick --keep-folders --to "$w" "$target" >/dev/null 2>&1
    checks=$((checks + 1))
    mkdir -p "$l" "$w"
    if ! diff <(tree_listing "$l") <(tree_listing "$w") >"$scratch/tree.diff"; then
        fail "$label: recovered files differ"
        head -n 6 "$scratch/tree.diff"
    fi
}

same_image_copy() {
    local label=$1 target=$2 rl rw
    run_linux image "$target" "$scratch/copy-linux.img" >/dev/null 2>&1
    rl=$?
    run_windows image "$target" "$scratch/copy-windows.img" >/dev/null 2>&1
    rw=$?
    checks=$((checks + 1))
    if [ "$rl" != "$rw" ]; then
        fail "$label: image exit status $rl on Linux, $rw on Windows"
    elif [ "$rl" = 0 ] && ! cmp -s "$scratch/copy-linux.img" "$scratch/copy-windows.img"; then
        fail "$label: image copies differ"
    fi
    rm -f "$scratch/copy-linux.img" "$scratch/copy-windows.img"
}

for target in "$@"; do
    path=${target%@*}
    suffix=""
    [ "$path" != "$target" ] && suffix="@${target##*@}"
    label=$(basename "$target")
    sum_before=$(sha256sum <"$path" | cut -c1-64)
    if [[ "$path" == *.gz ]]; then
        unpacked="$scratch/$(basename "${path%.gz}")"
        gunzip -c "$path" >"$unpacked"
        path=$unpacked
    fi
    sum_unpacked=$(sha256sum <"$path" | cut -c1-64)
    t="$path$suffix"
    same_output "$label classify" classify "$t"
    same_output "$label quick scan" scan --quick --json "$t"
    same_output "$label deep scan" scan --deep --fresh --json "$t"
    same_recovery "$label recover" "$t"
    # `image` copies whole images and devices (a partition inside an image is a scan target only).
    [ -z "$suffix" ] && same_image_copy "$label image" "$t"
    # Nothing may have written to what was scanned.
    [ "$(sha256sum <"${target%@*}" | cut -c1-64)" = "$sum_before" ] || fail "$label: the source changed"
    [ "$(sha256sum <"$path" | cut -c1-64)" = "$sum_unpacked" ] || fail "$label: the scanned image changed"
    [[ "$path" == "$scratch"/* ]] && [ -z "$suffix" ] && rm -f "$path"
done

# Paths outside any 8-bit code page, for the image and for the destination:
# the Windows build takes its arguments as UTF-16 and builds paths from UTF-8.
for target in "$@"; do
    case "$target" in *@* | *.gz) continue ;; esac
    odd="$scratch/фото карта 東京"
    mkdir -p "$odd"
    cp "$target" "$odd/образ диска.img"
    same_output "non-ASCII path quick scan" scan --quick --json "$odd/образ диска.img"
    same_recovery "non-ASCII path recover" "$odd/образ диска.img"
    rm -rf "$odd"
    break
done

echo "$checks comparisons, $failures differences"
[ "$failures" -eq 0 ]

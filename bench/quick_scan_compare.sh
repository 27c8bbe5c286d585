# Sourced by the quick-scan benchmarks: times Sorvane's quick scan and
# `fls -r -d` on two images made by the caller and prints the comparison.
# Needs: $sorvane, $work, $runs, $files, $folders set, and
# $work/big.img, $work/half.img made.

# measure COMMAND...: prints "seconds peak_kb" of the fastest of $runs runs.
measure() {
    local best_s="" best_kb=""
    for ((r = 0; r < runs; r++)); do
        /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
        read -r s kb < "$work/time"
        if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then best_s=$s; fi
        if [ -z "$best_kb" ] || [ "$kb" -gt "$best_kb" ]; then best_kb=$kb; fi
    done
    echo "$best_s $best_kb"
}

# compare_quick_scans: the timings and the memory growth from half.img to big.img.
compare_quick_scans() {
    cat "$work/big.img" "$work/half.img" > /dev/null  # both in the page cache before timing
    local listed fls_listed
    listed=$("$sorvane" scan --quick "$work/big.img" 2>/dev/null | wc -l)
    fls_listed=$(fls -r -d "$work/big.img" | grep -c '^r/r')
    read -r s_time s_kb <<< "$(measure "$sorvane" scan --quick "$work/big.img")"
    read -r f_time f_kb <<< "$(measure fls -r -d "$work/big.img")"
    read -r h_time h_kb <<< "$(measure "$sorvane" scan --quick "$work/half.img")"
    read -r fh_time fh_kb <<< "$(measure fls -r -d "$work/half.img")"

    echo "deleted files listed: sorvane $listed, fls $fls_listed"
    printf '%-34s %10s %12s\n' "" "seconds" "peak KiB"
    printf '%-34s %10s %12s\n' "sorvane scan --quick ($files)" "$s_time" "$s_kb"
    printf '%-34s %10s %12s\n' "fls -r -d ($files)" "$f_time" "$f_kb"
    printf '%-34s %10s %12s\n' "sorvane scan --quick ($((files / 2)))" "$h_time" "$h_kb"
    printf '%-34s %10s %12s\n' "fls -r -d ($((files / 2)))" "$fh_time" "$fh_kb"
    awk -v s="$s_time" -v f="$f_time" -v a="$s_kb" -v b="$h_kb" -v n="$files" 'BEGIN {
        printf "time ratio sorvane/fls: %.2f (goal: at most 0.50)\n", (f > 0 ? s / f : 0)
        printf "peak memory, %s files vs half as many: %.2f times\n", n, (b > 0 ? a / b : 0)
    }'
}

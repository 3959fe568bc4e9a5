#!/usr/bin/env bash
# Times the file manager's copy of one large file against cp, on this machine's disk.
# Builds copy_bench in Release in its own folder, makes the file, warms the page cache, then
# runs both in alternating order for several rounds and prints the medians and their ratio:
# of whole processes (ours opens the display and fonts first), and of our copy call alone.
#   BENCH_BUILD_DIR  build folder            (default: build-bench beside the sources)
#   BENCH_TMPDIR     where the file is made  (default: /var/tmp, which is on disk)
#   BENCH_SIZE_MIB   size of the file        (default: 512)
#   BENCH_ROUNDS     rounds of each          (default: 7)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$repo/build-bench}
size_mib=${BENCH_SIZE_MIB:-512}
rounds=${BENCH_ROUNDS:-7}

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target copy_bench -j2 >/dev/null
bench=$build/bench/copy_bench

work=$(mktemp -d "${BENCH_TMPDIR:-/var/tmp}/zorvel-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src" "$work/out"
head -c $((size_mib * 1048576)) /dev/urandom >"$work/src/big"
sync
cat "$work/src/big" >/dev/null

# Seconds taken by the command, with the destination removed and the disk settled beforehand;
# what the command writes to standard error goes to $work/stderr.
timed() {
    rm -f "$work/out/big"
    sync
    local start=$EPOCHREALTIME
    "$@" >/dev/null 2>"$work/stderr"
    local end=$EPOCHREALTIME
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f\n", e - s }'
}
run_cp() { cp_times+=("$(timed cp "$work/src/big" "$work/out/big")"); }
run_ours() {
    our_times+=("$(timed timeout 300 "$bench" "$work/out" "$work/src" big)")
    call_times+=("$(cat "$work/stderr")")
}

# The copy must be right before it is worth timing; this also loads the program once.
"$bench" "$work/out" "$work/src" big >/dev/null 2>&1
cmp "$work/src/big" "$work/out/big"

cp_times=()
our_times=()
call_times=()
for ((round = 0; round < rounds; round++)); do
    if ((round % 2 == 0)); then
        run_cp
        run_ours
    else
        run_ours
        run_cp
    fi
    printf 'round %d: cp %s s, ours %s s (copy call %s s)\n' "$round" "${cp_times[-1]}" \
        "${our_times[-1]}" "${call_times[-1]}"
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cp_median=$(median "${cp_times[@]}")
our_median=$(median "${our_times[@]}")
call_median=$(median "${call_times[@]}")
echo "file: ${size_mib} MiB in $work, $rounds rounds"
echo "median cp:              $cp_median s"
echo "median ours:            $our_median s"
echo "median ours, call only: $call_median s"
awk -v c="$cp_median" -v o="$our_median" -v k="$call_median" \
    'BEGIN { printf "ratio ours/cp: %.3f (call only: %.3f)\n", o / c, k / c }'

#!/usr/bin/env bash
# The benchmark suite. Builds the bench driver (bench/zorvel_bench.cpp) in Release in its own
# folder, then on this machine's disk times the file manager's own operations against their
# references on hyperfine (a warm-up, two passes with the order swapped), counts with callgrind the
# instructions of its frames, popup and listing, and measures its peak memory; prints one table
# of medians and ratios (ours / reference) with the processor and the date.
#   bench/run.sh          every row
#   bench/run.sh wall     only the wall-time rows (to repeat them when the machine is quiet)
#   bench/run.sh count    only the instruction and memory rows
# Settings from the environment:
#   BENCH_BUILD_DIR     build folder                          (default: build-bench beside the sources)
#   BENCH_TMPDIR        where the files are made, on disk     (default: /var/tmp)
#   BENCH_RAMDIR        a tmpfs, source of the copy between two file systems (default: /dev/shm)
#   BENCH_ROUNDS        timed rounds of each wall-time row    (default: 15)
#   BENCH_COUNT_ROUNDS  rounds of each instruction/memory row (default: 3)
#   BENCH_SIZE_MIB      size of the large file                (default: 512)
#   BENCH_RESULTS       the table is also written there       (default: results.md in the build folder)
# Installing missing Debian packages needs root, as scripts/setup.sh does.
set -euo pipefail
shopt -s inherit_errexit

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$repo/build-bench}
rounds=${BENCH_ROUNDS:-15}
count_rounds=${BENCH_COUNT_ROUNDS:-3}
size_mib=${BENCH_SIZE_MIB:-512}
results=${BENCH_RESULTS:-$build/results.md}
rows=${1:-all}
case $rows in
all | wall | count) ;;
*)
    echo "usage: bench/run.sh [all|wall|count]" >&2
    exit 2
    ;;
esac

# The tree of the copy and delete rows, the directory of the listing row, and the frame budget.
tree_dirs=40
tree_files=240
list_dirs=248 # with "../", 249 directory entries: the most a listing takes
list_files=249
frame_budget=3000000

packages="g++ cmake make pkg-config libsdl1.2-dev libsdl-ttf2.0-dev libsdl-image1.2-dev
  libpng-dev fonts-vlgothic valgrind coreutils hyperfine jq"
"$repo/scripts/install-packages.sh" $packages

mkdir -p "$build"
if ! { cmake --preset bench -S "$repo" -B "$build" &&
    cmake --build "$build" --target zorvel_bench refuse_copy_file_range -j"$(nproc)"; } >"$build/bench-build.log" 2>&1; then
    cat "$build/bench-build.log" >&2
    echo "bench: the build failed" >&2
    exit 1
fi
bench=$build/bench/zorvel_bench
refuse_kernel_copy=$build/bench/librefuse_copy_file_range.so

work=$(mktemp -d "${BENCH_TMPDIR:-/var/tmp}/zorvel-bench-XXXXXX")
ram=$(mktemp -d "${BENCH_RAMDIR:-/dev/shm}/zorvel-bench-XXXXXX")
# When this run removes the trees it copied, the time is kept for the next run: see settle_inodes.
cleanup_stamp=$build/bench-cleanup.stamp
made_trees=""
trap 'rm -rf "$work" "$ram"; [ -z "$made_trees" ] || date +%s >"$cleanup_stamp"' EXIT
export SDL_VIDEODRIVER=dummy

note() { printf '%s\n' "$*" >&2; }

median() {
    printf '%s\n' "$@" | sort -g |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The value the bench driver reported as "bench NAME VALUE" in its last run.
bench_value() {
    awk -v name="$1" '$1 == "bench" && $2 == name { print $3 }' "$work/last.out"
}

# Runs the command with its output in $work/last.out and prints the seconds it took; the
# processor seconds it and its children used (user and system) go to $work/last.cpu. A failing
# command fails the suite with its output.
timed() {
    local status=0 TIMEFORMAT='%3R %3U %3S'
    { time "$@" >"$work/last.out" 2>&1 || status=$?; } 2>"$work/last.time"
    if [ "$status" -ne 0 ]; then
        note "failed with status $status: $*"
        cat "$work/last.out" >&2
        return 1
    fi
    awk '{ printf "%.3f\n", $2 + $3 > "'"$work/last.cpu"'"; print $1 }' "$work/last.time"
}

# Instructions that callgrind counts for one run of the bench driver in the directory.
instructions() {
    local dir=$1
    shift
    instructions_of "$dir" "$bench" "$@"
}

# Instructions that callgrind counts for one run of any command in the directory.
instructions_of() {
    local dir=$1 status=0
    shift
    (cd "$dir" && valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
        "$@" >"$work/last.out" 2>"$work/valgrind.log") || status=$?
    if [ "$status" -ne 0 ]; then
        note "failed under callgrind with status $status: $*"
        cat "$work/last.out" "$work/valgrind.log" >&2
        return 1
    fi
    callgrind_annotate "$work/callgrind.out" | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }'
}

# Instructions of one step: the difference of two runs of the bench driver's arguments followed
# by `few` and by `many` steps, divided by the steps between them, so that start-up and shutdown
# cancel out; the median of the rounds. The bytes pushed to the display per step, the same
# difference (they do not vary), go to $work/step_bytes.
per_step() {
    local dir=$1 few=$2 many=$3 round low high low_bytes high_bytes
    shift 3
    local counts=()
    for ((round = 0; round < count_rounds; round++)); do
        low=$(instructions "$dir" "$@" "$few")
        low_bytes=$(bench_value pushed_bytes)
        high=$(instructions "$dir" "$@" "$many")
        high_bytes=$(bench_value pushed_bytes)
        counts+=("$(awk -v l="$low" -v h="$high" -v n=$((many - few)) 'BEGIN { printf "%d\n", (h - l) / n }')")
    done
    echo $(((high_bytes - low_bytes) / (many - few))) >"$work/step_bytes"
    note "  $1: ${counts[*]} instructions per step, $(cat "$work/step_bytes") bytes pushed"
    median "${counts[@]}"
}

# --- Fixtures -------------------------------------------------------------------------------
list_dir=$work/list
long_dir=$work/long
small_files=40
# 40 files whose names take all 255 bytes, for the full redraw of the longest names.
make_long_names() {
    local i name
    mkdir "$long_dir"
    for ((i = 1; i <= 40; i++)); do
        name=$(printf 'entry_%03d_%s' "$i" "$(printf 'abcdefghij%.0s' {1..25})")
        : >"$long_dir/${name:0:255}"
    done
}
# Seven directories down from the work folder, the path 1,771 bytes long, holding the same names.
make_deep_path() {
    local level name length
    length=$(((1771 - ${#work}) / 7 - 1))
    deep_dir=$work
    for ((level = 1; level <= 7; level++)); do
        name=$(printf 'level%d_%s' "$level" "$(printf 'x%.0s' $(seq "$length"))")
        deep_dir=$deep_dir/${name:0:length}
    done
    while ((${#deep_dir} < 1771)); do deep_dir=${deep_dir}y; done
    mkdir -p "$deep_dir"
    cp "$long_dir"/* "$deep_dir"/
}
# Folders of 0 and of 40 files of 4 KiB, for the cost of one small file.
make_small_files() {
    local content file
    content=$(head -c 3072 /dev/urandom | base64 -w0)
    mkdir -p "$work/small0/tree" "$work/small$small_files/tree"
    for ((file = 1; file <= small_files; file++)); do
        printf '%s' "$content" >"$work/small$small_files/tree/file$file.dat"
    done
}
make_listing() {
    mkdir "$list_dir"
    local i
    for ((i = 1; i <= list_dirs; i++)); do
        mkdir "$(printf '%s/directory_%03d' "$list_dir" "$i")"
    done
    for ((i = 1; i <= list_files; i++)); do
        : >"$(printf '%s/picture_%05d.png' "$list_dir" "$i")"
    done
}

# The tree's files hold 4 KiB each, written by the shell itself to keep the set-up short.
make_tree() {
    local content dir file
    content=$(head -c 3072 /dev/urandom | base64 -w0)
    mkdir -p "$work/src/tree"
    for ((dir = 1; dir <= tree_dirs; dir++)); do
        mkdir "$(printf '%s/src/tree/dir%02d' "$work" "$dir")"
        for ((file = 1; file <= tree_files; file++)); do
            printf '%s' "$content" >"$(printf '%s/src/tree/dir%02d/file%03d.dat' "$work" "$dir" "$file")"
        done
    done
}

# --- Rows -----------------------------------------------------------------------------------
table=()
row() {
    local line="|" cell
    for cell in "$@"; do
        line+=" $cell |"
    done
    table+=("$line")
}
judge() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g) ? "yes" : "**no**" }'; }
ratio() { awk -v o="$1" -v r="$2" 'BEGIN { printf "%.3f\n", o / r }'; }
thousands() { echo "$1" | sed ':a; s/\B[0-9]\{3\}\>/,&/; ta'; }

# Wall-time rows run on hyperfine. A row's functions: NAME_prepare (untimed, before every run:
# clears the destination and settles the disk), NAME_ours, NAME_ref, NAME_check SIDE. Each side
# first runs once and is checked; then hyperfine times both with a warm-up, in two passes, ours
# first and the reference first, so that a drift of the machine weighs on both alike. Every timed
# run is kept in the row's JSON files (build-bench/hyperfine/NAME-1.json, NAME-2.json), and the
# medians are taken over both passes. Hyperfine runs the functions in a bash of its own: they
# keep what they share in files of the work folder, and they are exported with what they use.
json_dir=$build/hyperfine
mkdir -p "$json_dir"
# The start-up of our process (display, fonts, a listing): its median is taken from our whole
# process to give the operation's own time, as the running file manager opens them only once.
startup_seconds=""
startup_row() {
    mkdir -p "$work/empty"
    hyperfine --shell=bash --style=none --warmup 2 --runs "$rounds" \
        --export-json "$json_dir/startup-1.json" -n ours "cd '$work/empty' && '$bench' idle 0" >&2
    startup_seconds=$(side_median ours startup)
}
# The median of one side's runs over a row's passes.
side_median() {
    jq -s --arg side "$1" '[.[].results[] | select(.command == $side) | .times[]] | sort |
        if length % 2 == 1 then .[(length - 1) / 2] else (.[length / 2 - 1] + .[length / 2]) / 2 end' \
        "$json_dir/$2"-*.json
}
# The mean processor time (user + system) of one side's runs over a row's passes.
side_processor() {
    jq -s --arg side "$1" '[.[].results[] | select(.command == $side) | .user + .system] |
        add / length' "$json_dir/$2"-*.json
}
seconds() { awk -v s="$1" 'BEGIN { printf "%.3f\n", s }'; }
wall_row() {
    local name=$1 label=$2 input=$3 reference=$4 goal=$5 half=$(((rounds + 1) / 2)) side
    local ours ref call
    for side in ours ref; do
        "${name}_prepare"
        if ! "${name}_$side" >"$work/last.out" 2>&1; then
            note "the $side side of $name failed:"
            cat "$work/last.out" >&2
            return 1
        fi
        "${name}_check" "$side"
    done
    rm -f "$json_dir/$name"-*.json
    hyperfine --shell=bash --style=none --warmup 1 --runs "$half" --prepare "${name}_prepare" \
        --export-json "$json_dir/$name-1.json" -n ours "${name}_ours" -n reference "${name}_ref" >&2
    hyperfine --shell=bash --style=none --warmup 1 --runs "$half" --prepare "${name}_prepare" \
        --export-json "$json_dir/$name-2.json" -n reference "${name}_ref" -n ours "${name}_ours" >&2
    ours=$(side_median ours "$name")
    ref=$(side_median reference "$name")
    # A run shorter than the start-up's own spread counts as taking no time of its own.
    call=$(awk -v o="$ours" -v s="$startup_seconds" 'BEGIN { c = o - s; printf "%.6f\n", (c > 0 ? c : 0) }')
    row "$label" "$input; hyperfine, 1 warm-up + $half runs a side, twice, the order swapped" \
        "$(seconds "$call") s (whole process $(seconds "$ours") s, processor $(seconds "$(side_processor ours "$name")") s)" \
        "$reference $(seconds "$ref") s (processor $(seconds "$(side_processor reference "$name")") s)" \
        "**$(ratio "$call" "$ref")** (whole process $(ratio "$ours" "$ref"))" \
        "≤ $goal" "$(judge "$(ratio "$call" "$ref")" "$goal")"
}

# One large file, the page cache warm; the destination is removed before each run.
big_prepare() {
    rm -f "$work/out/big"
    sync
}
big_ours() { "$bench" copy "$work/out" "$work/src" big; }
big_ref() { cp "$work/src/big" "$work/out/big" && sync -f "$work/out"; }
big_check() { cmp "$work/src/big" "$work/out/big"; }
# The same with the flush that the copy command makes before the panes show the result; cp's
# data is flushed with its file system (sync -f, the same syncfs) likewise.
bigflush_prepare() { big_prepare; }
bigflush_ours() { "$bench" copyflush "$work/out" "$work/src" big; }
bigflush_ref() { cp "$work/src/big" "$work/out/big" && sync -f "$work/out"; }
bigflush_check() { big_check; }

# The same file from a tmpfs to the disk: between two file systems the kernel does not copy by
# itself, so the data goes through a buffer, as every copy does on the console's kernel.
cross_prepare() { big_prepare; }
cross_ours() { "$bench" copy "$work/out" "$ram" big; }
cross_ref() { cp "$ram/big" "$work/out/big" && sync -f "$work/out"; }
cross_check() { cmp "$ram/big" "$work/out/big"; }

# The same file on one file system with copy_file_range refused on both sides, as on a kernel
# without it: ours by the bench driver, cp by a preloaded library.
plain_prepare() { big_prepare; }
plain_ours() { "$bench" copy-plain "$work/out" "$work/src" big; }
plain_ref() {
    LD_PRELOAD=$refuse_kernel_copy cp "$work/src/big" "$work/out/big" && sync -f "$work/out"
}
plain_check() { big_check; }

# A sparse file without any data: its copy must allocate no more blocks than cp's.
sparse_prepare() { rm -f "$work/out/sparse"; }
sparse_ours() { "$bench" copy "$work/out" "$work/src" sparse; }
sparse_ref() { cp "$work/src/sparse" "$work/out/sparse"; }
sparse_check() {
    [ "$(stat -c %s "$work/out/sparse")" = "$(stat -c %s "$work/src/sparse")" ]
    stat -c %b "$work/out/sparse" >"$work/sparse_blocks_$1"
}

# The tree copies go to fresh folders, numbered in $work/copies, and stay for the delete row:
# deleting between runs would slow the later runs by seconds (see settle_inodes).
tree_prepare() {
    local copies
    copies=$(($(cat "$work/copies" 2>/dev/null || echo 0) + 1))
    echo "$copies" >"$work/copies"
    mkdir "$work/out/copy$copies"
    echo "$work/out/copy$copies" >"$work/tree_dest"
    sync
}
tree_ours() { "$bench" copy "$(cat "$work/tree_dest")" "$work/src" tree/; }
tree_ref() {
    local dest
    dest=$(cat "$work/tree_dest")
    cp -r "$work/src/tree" "$dest/tree" && sync -f "$dest"
}
tree_check() { diff -r "$work/src/tree" "$(cat "$work/tree_dest")/tree" >/dev/null; }
treeflush_prepare() { tree_prepare; }
treeflush_ours() { "$bench" copyflush "$(cat "$work/tree_dest")" "$work/src" tree/; }
treeflush_ref() { tree_ref; }
treeflush_check() { tree_check; }

# Each delete takes the first copy that still holds its tree.
delete_prepare() {
    local dir
    for dir in "$work"/out/copy*; do
        if [ -e "$dir/tree" ]; then
            echo "$dir" >"$work/delete_dir"
            break
        fi
    done
    sync
}
delete_ours() { "$bench" delete "$(cat "$work/delete_dir")" tree/; }
delete_ref() { rm -rf "$(cat "$work/delete_dir")/tree"; }
delete_check() { [ -d "$(cat "$work/delete_dir")" ] && [ ! -e "$(cat "$work/delete_dir")/tree" ]; }

export work ram bench refuse_kernel_copy
export -f big_prepare big_ours big_ref bigflush_prepare bigflush_ours bigflush_ref cross_prepare \
    cross_ours cross_ref plain_prepare plain_ours plain_ref sparse_prepare sparse_ours sparse_ref \
    tree_prepare tree_ours tree_ref treeflush_prepare treeflush_ours treeflush_ref \
    delete_prepare delete_ours delete_ref

count_rows() {
    local round
    note "listing: $((list_dirs + 1)) directory entries and $list_files files"
    local list_instructions list_micro list_times=()
    list_instructions=$(per_step "$work" 10 1010 list "$list_dir")
    for ((round = 0; round < count_rounds; round++)); do
        timed "$bench" list "$list_dir" 1000 >/dev/null
        list_times+=("$(bench_value seconds)")
    done
    [ "$(bench_value entries)" -eq $((list_dirs + 1 + list_files)) ]
    list_micro=$(awk -v s="$(median "${list_times[@]}")" 'BEGIN { printf "%.0f", s * 1000 }')
    row "list a directory (CountDir + SeekDir)" \
        "$((list_dirs + 1)) directories (../ included) + $list_files files; callgrind 1,010 − 10 listings, $count_rounds rounds" \
        "$(thousands "$list_instructions") instructions a listing ($list_micro µs natively)" \
        "— (ls -f is no match)" "—" "report" "—"

    note "frames: the browser in the listing directory, both panes full"
    local idle move popup
    local idle idle_bytes move move_bytes popup
    idle=$(per_step "$list_dir" 50 250 idle)
    idle_bytes=$(cat "$work/step_bytes")
    move=$(per_step "$list_dir" 20 120 move)
    move_bytes=$(cat "$work/step_bytes")
    popup=$(per_step "$list_dir" 10 110 popup)
    row "idle frame (help bar, showing)" "callgrind 250 − 50 frames, $count_rounds rounds" \
        "$(thousands "$idle") instructions" "frame budget $(thousands $frame_budget)" \
        "$(ratio "$idle" $frame_budget)" "≤ 300,000" "$(judge "$idle" 300000)"
    row "bytes pushed to the display by an idle frame" "250 − 50 frames" \
        "$(thousands "$idle_bytes") bytes" "the help bar's rows: 320 × 10 × 2 = 6,400 bytes" \
        "$(ratio "$idle_bytes" 6400)" "≤ 6,400" "$(judge "$idle_bytes" 6400)"
    row "frame redrawing both full panes (18 rows each), help bar, showing" \
        "DOWN and UP by turns; callgrind 120 − 20 frames, $count_rounds rounds" \
        "$(thousands "$move") instructions ($(thousands "$move_bytes") bytes pushed)" \
        "frame budget $(thousands $frame_budget)" \
        "$(ratio "$move" $frame_budget)" "≤ 3,000,000" "$(judge "$move" 3000000)"

    note "frames with names of 255 bytes, and 7 levels deep"
    local long deep
    long=$(per_step "$long_dir" 10 40 move)
    row "full redraw, every name 255 bytes" \
        "DOWN and UP by turns; callgrind 40 − 10 frames, $count_rounds rounds" \
        "$(thousands "$long") instructions" "frame budget $(thousands $frame_budget)" \
        "$(ratio "$long" $frame_budget)" "≤ 3,000,000" "$(judge "$long" 3000000)"
    deep=$(per_step "$work" 10 40 move "$deep_dir")
    row "full redraw, both panes 7 levels deep (${#deep_dir}-byte paths), names of 255 bytes" \
        "DOWN and UP by turns; callgrind 40 − 10 frames, $count_rounds rounds" \
        "$(thousands "$deep") instructions" "frame budget $(thousands $frame_budget)" \
        "$(ratio "$deep" $frame_budget)" "≤ 3,000,000" "$(judge "$deep" 3000000)"

    note "line-input dialog"
    local line line_bytes
    line=$(per_step "$work" 10 60 lineinput "$(dirname "$bench")/..")
    line_bytes=$(cat "$work/step_bytes")
    row "one pass of the line-input dialog (field, keyboard, showing)" \
        "callgrind 60 − 10 passes, $count_rounds rounds" \
        "$(thousands "$line") instructions ($(thousands "$line_bytes") bytes pushed)" \
        "frame budget $(thousands $frame_budget)" "$(ratio "$line" $frame_budget)" \
        "≤ 300,000" "$(judge "$line" 300000)"

    note "small files copied: per file, ours and cp -r"
    local ours_counts=() cp_counts=() low high bytes showings small_out
    for ((round = 0; round < count_rounds; round++)); do
        small_out=$work/small-out$round
        mkdir -p "$small_out/a" "$small_out/b" "$small_out/c" "$small_out/d"
        low=$(instructions "$work" copy "$small_out/a" "$work/small0" tree/)
        bytes=$(bench_value pushed_bytes)
        showings=$(bench_value showings)
        high=$(instructions "$work" copy "$small_out/b" "$work/small$small_files" tree/)
        bytes=$(($(bench_value pushed_bytes) - bytes))
        showings=$(($(bench_value showings) - showings))
        diff -r "$work/small$small_files/tree" "$small_out/b/tree" >/dev/null
        ours_counts+=("$(((high - low) / small_files))")
        low=$(instructions_of "$work" cp -r "$work/small0/tree" "$small_out/c/tree")
        high=$(instructions_of "$work" cp -r "$work/small$small_files/tree" "$small_out/d/tree")
        cp_counts+=("$(((high - low) / small_files))")
    done
    note "  ours ${ours_counts[*]}, cp ${cp_counts[*]} instructions per file"
    local ours_file cp_file
    ours_file=$(median "${ours_counts[@]}")
    cp_file=$(median "${cp_counts[@]}")
    row "instructions per small file copied, dialog drawn (CopyDirEntry)" \
        "$small_files − 0 files of 4 KiB; callgrind, $count_rounds rounds" \
        "$(thousands "$ours_file") instructions" "cp -r $(thousands "$cp_file") instructions" \
        "+$(thousands $((ours_file - cp_file))) beyond the copy" "≤ +100,000" \
        "$(judge $((ours_file - cp_file)) 100000)"
    row "bytes pushed to the display per small file copied" \
        "$small_files files: $((showings / small_files)) showings a file" \
        "$(thousands $((bytes / small_files))) bytes" "—" "—" "≤ 40,000" \
        "$(judge $((bytes / small_files)) 40000)"
    row "message popup opened and closed (150 × 100, a path message, A)" \
        "callgrind 110 − 10 popups, $count_rounds rounds" \
        "$(thousands "$popup") instructions" "frame budget $(thousands $frame_budget)" \
        "$(ratio "$popup" $frame_budget)" "report" "—"

    note "peak memory: the idle browser and the copy of a chain deeper than a path reaches, by turns"
    local idle_kib=() deep_kib=() levels dir
    for ((round = 0; round < count_rounds; round++)); do
        dir=$work/memory$round
        mkdir -p "$dir/idle/d" "$dir/deep/e" "$dir/deep$(printf '/d%.0s' $(seq 700))"
        (cd "$dir/idle" && timed "$bench" idle 200 >/dev/null)
        idle_kib+=("$(bench_value maxrss_kib)")
        (cd "$dir/deep" && timed "$bench" deepcopy >/dev/null)
        deep_kib+=("$(bench_value maxrss_kib)")
        levels=$(bench_value levels)
        # Each level adds "/d/" to a path of at most 2047 bytes: the copy must have gone that far.
        [ "$levels" -ge $(((2047 - ${#dir} - 12) / 3)) ] || {
            note "the deep copy stopped at $levels levels"
            return 1
        }
        note "  round $round: idle ${idle_kib[-1]} KiB, deep copy ${deep_kib[-1]} KiB ($levels levels)"
    done
    local idle_median deep_median
    idle_median=$(median "${idle_kib[@]}")
    deep_median=$(median "${deep_kib[@]}")
    row "peak memory (max RSS), idle browser" "200 frames; $count_rounds rounds" \
        "$(thousands "$idle_median") KiB" "—" "—" "reference" "—"
    row "peak memory (max RSS), copy of a chain of directories until \"path too long\"" \
        "$levels levels, through the browser (Y, then A on the popup); $count_rounds rounds" \
        "$(thousands "$deep_median") KiB" "idle browser $(thousands "$idle_median") KiB" \
        "+$(thousands $((deep_median - idle_median))) KiB" "≤ idle + 8,192 KiB" \
        "$(judge "$deep_median" $((idle_median + 8192)))"
}

# An ext4 file system without a journal does not reuse an inode within six minutes of its
# deletion (one minute when its inode table is clean): making a file scans past every such inode
# of the group. A tree copied within that time after the last run removed its tens of thousands
# of files costs several times as much, for cp as for us, so the copy waits until then.
settle_inodes() {
    local device journal last wait
    device=$(basename "$(df --output=source "$work" | tail -1)")
    journal=$(cat "/sys/fs/ext4/$device/journal_task" 2>/dev/null || echo unknown)
    [ "$journal" = "<none>" ] && [ -f "$cleanup_stamp" ] || return 0
    last=$(cat "$cleanup_stamp")
    wait=$((last + 370 - $(date +%s)))
    if ((wait > 0)); then
        note "  waiting $wait s until the inodes that the last run removed may be reused"
        sleep "$wait"
    fi
}

wall_rows() {
    local side
    note "start-up of our process (display, fonts, a listing), taken from its whole time"
    startup_row
    # A copy puts its files' data on the disk before they take their names, so cp's data is
    # flushed too (sync -f, the same syncfs); the rows "then flush" add the flush of the entries
    # that the command makes before the panes show the result.
    note "copy of one ${size_mib} MiB file against cp and sync -f"
    head -c $((size_mib * 1048576)) /dev/urandom >"$work/src/big"
    sync
    cat "$work/src/big" >/dev/null
    wall_row big "copy one file, page cache warm (CopyDirEntry)" "$size_mib MiB" "cp; sync -f" 1.05
    note "the same copy, then its file system flushed, against cp and sync -f"
    wall_row bigflush "copy one file, then flush (CopyDirEntry + FlushChanges)" "$size_mib MiB" \
        "cp; sync -f" 1.05

    note "the same file with copy_file_range refused, against cp with it refused too"
    wall_row plain "copy one file without copy_file_range (CopyDirEntry, read and write)" \
        "$size_mib MiB, one file system" "cp without copy_file_range; sync -f" 1.05

    note "the same file from a tmpfs to the disk against cp and sync -f"
    cp "$work/src/big" "$ram/big"
    rm -f "$work/src/big"
    wall_row cross "copy one file between two file systems (CopyDirEntry, read and write)" \
        "$size_mib MiB, tmpfs to $(df -T "$work" | awk 'NR == 2 { print $2 }')" "cp; sync -f" 1.05
    rm -f "$ram/big" "$work/out/big"

    note "a sparse file of 1 GiB without data against cp"
    truncate -s 1G "$work/src/sparse"
    # The blocks each side allocates, for the row's input.
    for side in ours ref; do
        sparse_prepare
        "sparse_$side" >/dev/null
        sparse_check "$side"
    done
    wall_row sparse "copy a sparse file (CopyDirEntry, holes kept)" \
        "1 GiB, no data; blocks allocated: ours $(cat "$work/sparse_blocks_ours"), cp $(cat "$work/sparse_blocks_ref")" \
        "cp" 2.0
    cmp "$work/src/sparse" "$work/out/sparse"
    [ "$(cat "$work/sparse_blocks_ours")" -le "$(cat "$work/sparse_blocks_ref")" ] || {
        note "the sparse copy allocated more blocks than cp"
        exit 1
    }
    rm -f "$work/src/sparse" "$work/out/sparse"

    note "copy of the tree against cp -r and sync -f, the copy dialog drawn for every file"
    settle_inodes
    made_trees=yes
    wall_row tree "copy a tree, the dialog drawn for each file (CopyDirEntry)" \
        "$tree_dirs directories × $tree_files files of 4 KiB ($((tree_dirs * tree_files)) files)" \
        "cp -r; sync -f" 1.5
    note "the same tree copy, then its file system flushed, against cp -r and sync -f"
    wall_row treeflush "copy a tree, then flush (CopyDirEntry + FlushChanges)" \
        "$tree_dirs directories × $tree_files files of 4 KiB ($((tree_dirs * tree_files)) files)" \
        "cp -r; sync -f" 1.5

    note "delete of the tree against rm -rf"
    wall_row delete "delete that tree (DeleteDirEntry)" "the copies made above" "rm -rf" 1.2
}

note "setting up in $work"
mkdir -p "$work/src" "$work/out"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
[ "$rows" = wall ] || { make_listing && make_long_names && make_deep_path && make_small_files; }
[ "$rows" = count ] || make_tree
[ "$rows" = wall ] || count_rows
[ "$rows" = count ] || wall_rows
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

{
    revision=$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo "this tree")
    git -C "$repo" diff --quiet HEAD -- 2>/dev/null || revision="$revision with uncommitted changes"
    echo "Benchmarks of $revision on $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo
    echo "- processor: $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)," \
        "$(nproc) cores; kernel $(uname -r); files in ${BENCH_TMPDIR:-/var/tmp}" \
        "($(df -T "$work" | awk 'NR == 2 { print $2 }'))"
    echo "- load average: $load_before before, $load_after after; Release build, dummy display," \
        "font VL Gothic 10 points; instructions are this machine's, as callgrind counts them"
    echo "- wall times are hyperfine's runs, medians of both passes. Ours is the operation's time: our"
    echo "  whole process less the median start-up of the same process without the operation"
    echo "  ($(seconds "$startup_seconds") s: display, fonts, a listing), which the running file manager"
    echo "  makes once; the reference is the whole cp or rm process. Our whole process and the mean"
    echo "  processor time (user + system) of both are given beside them; every run is in"
    echo "  $json_dir/."
    echo
    echo "| benchmark | input, rounds | ours (median) | reference (median) | ratio | goal | met |"
    echo "|---|---|---|---|---|---|---|"
    printf '%s\n' "${table[@]}"
} | tee "$results"

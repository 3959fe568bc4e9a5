#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang (address and undefined-behaviour sanitizers,
# leak checks on) in build-fuzz/ and runs each one for the given seconds (default 10), starting
# from its seeds in fuzz/corpus/<target>/. Inputs that find new code go to build-fuzz/corpus/,
# never into the seeds; a crash stops the run and is kept in build-fuzz/crashes/. For a longer
# search give more seconds, e.g. scripts/fuzz.sh 3600, or run one target by hand:
#   build-fuzz/fuzz/fuzz_listing build-fuzz/corpus/listing fuzz/corpus/listing
# As root it installs what is missing.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-fuzz
seconds=${1:-10}
targets="fold_string split_by_space base_name line_input listing"

packages="clang-14 libclang-rt-14-dev cmake make pkg-config libsdl1.2-dev libsdl-ttf2.0-dev
  libsdl-image1.2-dev libpng-dev fonts-vlgothic"
"$here/scripts/install-packages.sh" $packages

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DZORVEL_FUZZ=ON \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
binaries=""
for target in $targets; do
  binaries="$binaries fuzz_$target"
done
cmake --build "$build" -j"$(nproc)" --target $binaries

mkdir -p "$build/crashes"
for target in $targets; do
  mkdir -p "$build/corpus/$target"
  log=$build/fuzz-$target.log
  if ! SDL_VIDEODRIVER=dummy "$build/fuzz/fuzz_$target" -max_total_time="$seconds" \
    -max_len=4096 -timeout=30 -print_final_stats=1 -artifact_prefix="$build/crashes/$target-" \
    "$build/corpus/$target" "$here/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target: crash, input kept in $build/crashes/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz_$target: $runs runs in ${seconds} s, no crash"
done

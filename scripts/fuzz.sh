#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang (address and undefined-behaviour sanitizers,
# leak checks on) in build-fuzz/ (the preset fuzz) and runs each one, as a CTest test labelled
# fuzz, for the given seconds (default 10), starting from its seeds in fuzz/corpus/<target>/.
# Inputs that find new code go to build-fuzz/corpus/, never into the seeds; a crash fails its
# test and is kept in build-fuzz/crashes/. For a longer search give more seconds, e.g.
# scripts/fuzz.sh 3600, or run one target by hand:
#   build-fuzz/fuzz/fuzz_listing build-fuzz/corpus/listing fuzz/corpus/listing
# As root it installs what is missing.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
packages="clang-14 libclang-rt-14-dev cmake make pkg-config libsdl1.2-dev libsdl-ttf2.0-dev
  libsdl-image1.2-dev libpng-dev fonts-vlgothic"
"$here/scripts/install-packages.sh" $packages
cd "$here"
cmake --preset fuzz -DZORVEL_FUZZ_SECONDS="$seconds" >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
ctest --preset fuzz

#!/bin/sh
# Builds the program and the whole test suite for the console's CPU (32-bit little-endian MIPS)
# in build-mipsel/ and runs the tests there under qemu's user-mode emulation, headless.
# Run as root on Debian 12: it installs what it needs. Optional argument: the build type
# (default Debug, as scripts/test.sh).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-mipsel
root=$build/root
type=${1:-Debug}

"$here/scripts/cross-setup.sh"

cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mipsel-linux-gnu.cmake" \
  -DZORVEL_MIPSEL_ROOT="$root" -DCMAKE_BUILD_TYPE="$type" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
# A test that hangs under the emulator fails after five minutes instead of stalling the run.
SDL_VIDEODRIVER=dummy ctest --output-on-failure -j"$(nproc)" --timeout 300

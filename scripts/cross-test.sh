#!/bin/sh
# Builds the program and the whole test suite for the console's CPU (32-bit little-endian MIPS)
# in build-mipsel/ (the preset mipsel) and runs the tests there under qemu's user-mode emulation,
# headless. Run as root on Debian 12: it installs what it needs.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)

"$here/scripts/cross-setup.sh"
cd "$here"
cmake --preset mipsel >/dev/null
cmake --build --preset mipsel -j"$(nproc)"
# A test that hangs under the emulator fails after five minutes instead of stalling the run.
ctest --preset mipsel -j"$(nproc)"

#!/bin/sh
# Sets up, builds and runs the whole test suite: on this machine with SDL 1.2; again under the
# address, undefined-behaviour and leak sanitizers with a short monkey run; each fuzz target for a
# few seconds; again with sdl12-compat in SDL 1.2's place; and built for the console's mipsel CPU
# under emulation; then the console's own static program is built from Debian's sources and proven
# at the instruction level, on an emulated framebuffer machine with a FAT card, and through power
# cuts of that machine; last, the console's two packages are built and checked, their program run
# from a read-only folder.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
# The console build takes SDL_ttf's and SDL_image's upstream tarballs from this folder where
# Debian's mirror serves no source of them (scripts/build-console.sh).
[ -n "${ZORVEL_CONSOLE_SOURCES:-}" ] || [ ! -d "$here/../shared/console-sources" ] ||
  export ZORVEL_CONSOLE_SOURCES="$here/../shared/console-sources"
"$here/scripts/setup.sh" test
(cd "$here" && ctest --preset test -j"$(nproc)")
"$here/scripts/test-sanitizers.sh"
"$here/scripts/fuzz.sh"
"$here/scripts/test-sdl12compat.sh"
"$here/scripts/cross-test.sh"
# The console's build, its proofs and sessions, the packages and their checks, in the order
# their fixtures give (cmake/console-checks.cmake).
cd "$here"
cmake --preset console-checks >/dev/null
ctest --preset console-checks

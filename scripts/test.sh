#!/bin/sh
# Sets up, builds and runs the whole test suite: on this machine with SDL 1.2, again with
# sdl12-compat in its place, and built for the console's mipsel CPU under emulation.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" "$here/build-test" Debug
(cd "$here/build-test" && SDL_VIDEODRIVER=dummy ctest --output-on-failure -j"$(nproc)")
"$here/scripts/test-sdl12compat.sh" "$here/build-test"
"$here/scripts/cross-test.sh"

#!/bin/sh
# Sets up, builds and runs the whole test suite.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" "$here/build-test" Debug
cd "$here/build-test"
SDL_VIDEODRIVER=dummy ctest --output-on-failure -j"$(nproc)"

#!/bin/sh
# Installs the Debian packages the build, the program and the tests need, skipping those present,
# then configures and builds the given CMake preset (CMakePresets.json; default: desktop): all of
# it, or the targets named after the preset.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-desktop}
[ $# -gt 0 ] && shift

packages="g++ cmake make pkg-config libsdl1.2-dev libsdl-ttf2.0-dev libsdl-image1.2-dev
  libpng-dev fonts-vlgothic googletest libgtest-dev"
"$here/scripts/install-packages.sh" $packages

cd "$here"
cmake --preset "$preset" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build --preset "$preset" -j"$(nproc)" --target "$@"
else
  cmake --build --preset "$preset" -j"$(nproc)"
fi

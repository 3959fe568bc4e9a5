#!/bin/sh
# Installs the Debian packages the build, the program and the tests need, skipping those present,
# then configures and builds into the given folder (default: build): all of it, or the targets
# named after the build type.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
type=${2:-RelWithDebInfo}
[ $# -gt 2 ] && shift 2 || set --

packages="g++ cmake make pkg-config libsdl1.2-dev libsdl-ttf2.0-dev libsdl-image1.2-dev
  libpng-dev fonts-vlgothic googletest libgtest-dev"
"$here/scripts/install-packages.sh" $packages

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE="$type" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build "$build" -j"$(nproc)" --target "$@"
else
  cmake --build "$build" -j"$(nproc)"
fi

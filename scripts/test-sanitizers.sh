#!/bin/sh
# Builds the program and the whole test suite with AddressSanitizer, UndefinedBehaviorSanitizer
# and LeakSanitizer in build-asan/ and runs it headless. Any report fails the run, also one from a
# child that a test forked or from the program that a test started; they are kept in
# build-asan/sanitizer-logs/. Run after scripts/setup.sh; as root it installs what is missing.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-asan
. "$here/scripts/sanitizer-options.sh"

# The sanitizers' run-time libraries come with Debian's g++ 12.
packages="g++ cmake make pkg-config libasan8 libubsan1 libsdl1.2-dev libsdl-ttf2.0-dev
  libsdl-image1.2-dev libpng-dev fonts-vlgothic googletest libgtest-dev"
"$here/scripts/install-packages.sh" $packages

# The keyboard's images are drawn at build time by a sanitized tool: its reports count too.
sanitizer_options "$build/sanitizer-logs"
cd "$here"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$(nproc)"
status=0
ctest --preset sanitize -j"$(nproc)" || status=1
sanitizer_reports "$build/sanitizer-logs" || status=1
exit $status

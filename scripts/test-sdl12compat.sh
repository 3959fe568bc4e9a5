#!/bin/sh
# Runs the desktop test suite (the build of scripts/test.sh, build-test/) a second time
# with sdl12-compat, SDL 1.2 rebuilt on SDL 2, loaded in place of SDL 1.2, without rebuilding.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-test

# Debian's libsdl1.2-compat puts its libSDL-1.2.so.0 in a folder of its own beside SDL 1.2 (only
# libsdl1.2-compat-shim would replace SDL 1.2, and with it the headers the build needs).
"$here/scripts/install-packages.sh" libsdl1.2-compat
library=$(dpkg -L libsdl1.2-compat | grep '/libSDL-1\.2\.so\.0$' | head -n 1)
compat=$(dirname "$library")

# Builds only what is out of date when scripts/test.sh ran just before.
"$here/scripts/setup.sh" test

# A run that still loaded SDL 1.2 would prove nothing.
if ! LD_LIBRARY_PATH=$compat ldd "$build/zorvel.dge" | grep -q "=> $compat/libSDL-1.2.so.0 "; then
  echo "error: $compat/libSDL-1.2.so.0 is not the one the loader takes" >&2
  exit 1
fi
echo "running the tests with $library"
cd "$here"
LD_LIBRARY_PATH=$compat${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} ctest --preset test -j"$(nproc)"

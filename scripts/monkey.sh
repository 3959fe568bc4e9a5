#!/bin/sh
# Runs the monkey (tests/system/monkey.cpp): the real program under random states of its twelve buttons
# for the given passes (default 200000), in a world of its own as the user nobody, built with the
# sanitizers in build-asan/. Fails on any failure the monkey reports and on any sanitizer report
# (kept in build-asan/monkey-logs/). Run after scripts/setup.sh, as root: without root it cannot
# confine the program and skips. The seed of the random states is the second argument (default 1).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build-asan
passes=${1:-200000}
seed=${2:-1}
. "$here/scripts/sanitizer-options.sh"

(cd "$here" && cmake --preset sanitize >/dev/null &&
  cmake --build --preset sanitize -j"$(nproc)" --target zorvel_monkey)
sanitizer_options "$build/monkey-logs"
status=0
SDL_VIDEODRIVER=dummy "$build/tests/zorvel_monkey" "$passes" "$seed" || status=$?
sanitizer_reports "$build/monkey-logs" || status=1
if [ "$status" -eq 77 ]; then
  echo "monkey: skipped"
  exit 0
fi
exit "$status"

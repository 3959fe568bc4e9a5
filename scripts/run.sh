#!/bin/sh
# Sets up, builds and starts the file manager from its build folder with Debian's VL Gothic font.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" desktop zorvel.dge keyboard_images icon
cd "$here/build"
exec ./zorvel.dge -f /usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf "$@"

#!/bin/sh
# Builds the two packages console owners install, into dist/:
#   dist/zorvel.opk         a SquashFS image for the launchers that read OPK packages
#   dist/zorvel-folder.zip  local/apps/zorvel/ and its menu entry, unpacked at the card's root
# The program is the console build of scripts/build-console.sh; the manual says how its SDL_ttf
# and SDL_image were built (the build's stamps). It is stripped. The icon is drawn by tools/make_icon; the font and its licence come from
# Debian's fonts-vlgothic. Run as root on Debian 12: it installs what it needs.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
work=$here/build-package
dist=$here/dist
font=/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf
licence=/usr/share/doc/fonts-vlgothic/copyright

"$here/scripts/install-packages.sh" squashfs-tools zip fonts-vlgothic binutils-mipsel-linux-gnu

# The icon is the same picture for every CPU: the tool runs here, in the run command's build,
# which is made whole on the way, so that `cmake --install build` works after either command.
"$here/scripts/setup.sh" desktop zorvel.dge keyboard_images icon
icon=$here/build/zorvel.png

# SDL_ttf's and SDL_image's upstream tarballs, where Debian serves no source of them.
[ -n "${ZORVEL_CONSOLE_SOURCES:-}" ] || [ ! -d "$here/../shared/console-sources" ] ||
  export ZORVEL_CONSOLE_SOURCES="$here/../shared/console-sources"
# Built already when run among the console checks (cmake/console-checks.cmake).
[ -n "${ZORVEL_CONSOLE_BUILT:-}" ] || "$here/scripts/build-console.sh"
program=$here/build-console/zorvel.dge
graphics=$here/build-console/graphics
build_note="The console build: one static
program for the console's MIPS32 CPU,
floating point in software.
musl, zlib, libpng, FreeType and
SDL 1.2 in it are built from Debian's
source packages."
# How SDL_ttf and SDL_image came into it, as scripts/build-console.sh recorded.
for module in SDL_ttf SDL_image; do
  stamp=$here/build-console/stamps/$(echo "$module" | tr '[:upper:]' '[:lower:]')
  case $(cat "$stamp") in
  "source package") origin="built from Debian's
source package" ;;
  "upstream tarball") origin="built from its upstream
release tarball" ;;
  "prebuilt release 2") origin="Debian's prebuilt
library, MIPS32 release 2" ;;
  *)
    echo "package: $stamp does not say how $module was built" >&2
    exit 1
    ;;
  esac
  build_note="$build_note
$module: $origin"
done
# The build's scan of every instruction (empty: none of release 2).
if [ -s "$here/build-console/release2-instructions.txt" ]; then
  build_note="$build_note
It uses MIPS32 release 2 instructions:
on a console whose CPU is release 1
it stops with \"Illegal instruction\"."
else
  build_note="$build_note
All of it is MIPS32 release 1 code."
fi

# Lays out the program's folder in $1: everything but the launcher's entry.
lay_out() {
  mkdir -p "$1/graphics"
  install -m 0755 "$program" "$1/zorvel.dge"
  mipsel-linux-gnu-strip --strip-all "$1/zorvel.dge"
  for image in "$graphics"/*.png; do
    install -m 0644 "$image" "$1/graphics/"
  done
  install -m 0644 "$icon" "$1/zorvel.png"
  install -m 0644 "$font" "$1/VL-Gothic-Regular.ttf"
  install -m 0644 "$licence" "$1/VL-Gothic-LICENSE.txt"
  while IFS= read -r line; do
    if [ "$line" = "@BUILD@" ]; then
      printf '%s\n' "$build_note"
    else
      printf '%s\n' "$line"
    fi
  done <"$here/package/zorvel.man.txt.in" >"$1/zorvel.man.txt"
  chmod 0644 "$1/zorvel.man.txt"
  chmod 0755 "$1" "$1/graphics"
}

rm -rf "$work/opk" "$work/zip"
mkdir -p "$work" "$dist"
# The image's root is the program's folder, with the launcher's entry in it.
lay_out "$work/opk"
install -m 0644 "$here/package/default.gcw0.desktop" "$work/opk/default.gcw0.desktop"
rm -f "$dist/zorvel.opk"
mksquashfs "$work/opk" "$dist/zorvel.opk" -comp gzip -all-root -noappend -no-exports \
  -no-xattrs -quiet -no-progress >/dev/null

# The card's local/ folder is the console's /usr/local, where the menu looks for its sections.
lay_out "$work/zip/local/apps/zorvel"
mkdir -p "$work/zip/local/gmenu2x/sections/applications"
install -m 0644 "$here/package/gmenu2x-entry" \
  "$work/zip/local/gmenu2x/sections/applications/zorvel"
find "$work/zip" -type d -exec chmod 0755 {} +
rm -f "$dist/zorvel-folder.zip"
(cd "$work/zip" && zip -q -r -X "$dist/zorvel-folder.zip" local)

for package in "$dist/zorvel.opk" "$dist/zorvel-folder.zip"; do
  echo "$package: $(wc -c <"$package") bytes"
done

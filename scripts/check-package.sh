#!/bin/sh
# Checks the two packages of scripts/package.sh in dist/: the OPK image's compression, files and
# modes; the launcher's desktop entry and the menu's entry; the size of every image; that the
# program is the console's, stripped, and prints the usage text that the manual and the README
# show; and, for each package, that the program runs from its read-only folder
# (scripts/run-package-readonly.sh) under qemu's user-mode emulator. Run as root after
# scripts/package.sh; it installs what it needs.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
opk=$here/dist/zorvel.opk
zip=$here/dist/zorvel-folder.zip

"$here/scripts/install-packages.sh" squashfs-tools unzip gdb-multiarch qemu-user-static \
  binutils-mipsel-linux-gnu file
for package in "$opk" "$zip"; do
  [ -f "$package" ] || {
    echo "FAIL: $package is missing: run scripts/package.sh first" >&2
    exit 1
  }
done
# A program linked to shared libraries takes them from the cross build's unpacked root.
if [ -d "$here/build-mipsel/root" ]; then
  QEMU_LD_PREFIX=$here/build-mipsel/root
  export QEMU_LD_PREFIX
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() {
  echo "FAIL: $*" >&2
  failed=1
}

# The keyboard's images: the plain and alternate pictures of 150x150 and the highlight sheets of
# nine 64x64 tiles, 192x192.
images="keys keys_t keys_s keys_c keys_c_t keys_s_c nums nums_t nums_s nums_c nums_c_t nums_s_c
  keys5_c keys5_c_t keys5_s_c keys4_c keys4_c_t keys4_s_c"
image_side() {
  case $1 in
  *_s | *_s_c) echo 192 ;;
  *) echo 150 ;;
  esac
}
# The program's folder in both packages, with the mode of each entry.
folder_listing() {
  echo "drwxr-xr-x $1"
  for file in VL-Gothic-LICENSE.txt VL-Gothic-Regular.ttf zorvel.man.txt zorvel.png; do
    echo "-rw-r--r-- $1/$file"
  done
  echo "-rwxr-xr-x $1/zorvel.dge"
  echo "drwxr-xr-x $1/graphics"
  for image in $images; do
    echo "-rw-r--r-- $1/graphics/$image.png"
  done
}

# --- The OPK image.
unsquashfs -s "$opk" | grep -qx 'Compression gzip' || fail "zorvel.opk is not gzip-compressed"
{
  folder_listing squashfs-root
  echo "-rw-r--r-- squashfs-root/default.gcw0.desktop"
} | LC_ALL=C sort >"$tmp/opk.expected"
unsquashfs -lln "$opk" | awk '$1 ~ /^[-d]/ { print $1, $2, $6 }' >"$tmp/opk.raw"
awk '$2 != "0/0" { exit 1 }' "$tmp/opk.raw" || fail "zorvel.opk has files not owned by root"
cut -d' ' -f1,3 "$tmp/opk.raw" | LC_ALL=C sort >"$tmp/opk.listed"
if ! cmp -s "$tmp/opk.expected" "$tmp/opk.listed"; then
  fail "zorvel.opk does not hold exactly the expected files with their modes:"
  diff "$tmp/opk.expected" "$tmp/opk.listed" >&2 || true
fi
unsquashfs -q -n -d "$tmp/opk" "$opk" >/dev/null

# The desktop entry: the launcher starts the program in the image's root.
desktop=$tmp/opk/default.gcw0.desktop
[ "$(head -n 1 "$desktop")" = "[Desktop Entry]" ] || fail "the desktop entry does not begin with [Desktop Entry]"
if tr -d '\r' <"$desktop" | cmp -s - "$desktop"; then :; else fail "the desktop entry has CR line ends"; fi
cat >"$tmp/desktop.expected" <<'EOF'
Categories=applications;
Exec=zorvel.dge -f VL-Gothic-Regular.ttf
Icon=zorvel
Name=zorvel
Terminal=false
Type=Application
X-OD-Manual=zorvel.man.txt
EOF
tail -n +2 "$desktop" | grep -v '^Comment=' | LC_ALL=C sort >"$tmp/desktop.listed"
if ! cmp -s "$tmp/desktop.expected" "$tmp/desktop.listed"; then
  fail "the desktop entry's keys differ:"
  diff "$tmp/desktop.expected" "$tmp/desktop.listed" >&2 || true
fi
[ "$(grep -c '^Comment=.' "$desktop")" -eq 1 ] || fail "the desktop entry needs one Comment"

# --- The zip: the program's folder and the menu's entry.
{
  folder_listing local/apps/zorvel
  for folder in local local/apps local/gmenu2x local/gmenu2x/sections \
    local/gmenu2x/sections/applications; do
    echo "drwxr-xr-x $folder"
  done
  echo "-rw-r--r-- local/gmenu2x/sections/applications/zorvel"
} | LC_ALL=C sort >"$tmp/zip.expected"
unzip -Z "$zip" | awk '$1 ~ /^[-d]/ { sub("/$", "", $9); print $1, $9 }' | LC_ALL=C sort \
  >"$tmp/zip.listed"
if ! cmp -s "$tmp/zip.expected" "$tmp/zip.listed"; then
  fail "zorvel-folder.zip does not hold exactly the expected files with their modes:"
  diff "$tmp/zip.expected" "$tmp/zip.listed" >&2 || true
fi
unzip -q "$zip" -d "$tmp/zip"

# The menu stops reading an entry at the first key it does not know: only these, and the paths
# as the console sees the card's local/ folder, /usr/local.
entry=$tmp/zip/local/gmenu2x/sections/applications/zorvel
if grep -v -E '^(title|description|icon|exec|params|workdir|manual|wrapper)=' "$entry" >&2; then
  fail "the menu entry has lines the menu does not read (above)"
fi
for line in "exec=/usr/local/apps/zorvel/zorvel.dge" "params=-f VL-Gothic-Regular.ttf" \
  "workdir=/usr/local/apps/zorvel" "wrapper=true" "icon=/usr/local/apps/zorvel/zorvel.png" \
  "manual=/usr/local/apps/zorvel/zorvel.man.txt" "title=zorvel"; do
  grep -qxF "$line" "$entry" || fail "the menu entry lacks $line"
done
[ "$(cut -d= -f1 "$entry" | sort | uniq -d)" = "" ] || fail "the menu entry repeats a key"
for key in exec workdir icon manual; do
  path=$(sed -n "s|^$key=/usr/local/|local/|p" "$entry")
  [ -e "$tmp/zip/$path" ] || fail "the menu entry's $key is not in the zip"
done

# --- Images: every PNG at the size its role needs.
png_size() { # file: prints "width height" of a PNG, or nothing
  [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = "89504e470d0a1a0a" ] || return 0
  od -An -tu1 -j16 -N8 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4,
    $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }'
}
for folder in "$tmp/opk" "$tmp/zip/local/apps/zorvel"; do
  [ "$(png_size "$folder/zorvel.png")" = "32 32" ] || fail "$folder/zorvel.png is not a 32x32 PNG"
  for image in $images; do
    side=$(image_side "$image")
    [ "$(png_size "$folder/graphics/$image.png")" = "$side $side" ] ||
      fail "$folder/graphics/$image.png is not a ${side}x$side PNG"
  done
done

# --- The program: the same in both, the console's, stripped.
program=$tmp/opk/zorvel.dge
cmp -s "$program" "$tmp/zip/local/apps/zorvel/zorvel.dge" || fail "the two packages' programs differ"
readelf=mipsel-linux-gnu-readelf
header=$($readelf -h "$program")
for field in "Class: *ELF32" "Data: *2's complement, little endian" "Machine: *MIPS R3000"; do
  echo "$header" | grep -q "$field" || fail "the program's header lacks $field"
done
sections=$($readelf -S -W "$program")
if echo "$sections" | grep -qE ' \.(symtab|debug_[a-z]+) '; then
  fail "the program is not stripped"
fi
if $readelf -d "$program" | grep -qE 'RPATH|RUNPATH'; then
  fail "the program names a run path of the build machine"
fi
# The console build: static, for MIPS32 release 1.
$readelf -l "$program" | grep -q INTERP && fail "the console's program is not static"
# Release 1, as the header says once the build's scan found no release 2 instruction
# (scripts/build-console.sh); the console build's proof (scripts/console-proof.sh) looks at
# every instruction. Only a program with Debian's prebuilt SDL_ttf or SDL_image, the build's
# last resort, is release 2, and its manual must say so.
if echo "$header" | grep -q 'Flags:.*, mips32$' &&
  $readelf -A "$program" | grep -qx 'ISA: MIPS32' && file "$program" | grep -q 'MIPS32 version 1'; then
  grep -qx 'All of it is MIPS32 release 1 code.' "$tmp/opk/zorvel.man.txt" ||
    fail "the manual does not say the program is release 1"
elif grep -q '^It uses MIPS32 release 2 instructions' "$tmp/opk/zorvel.man.txt"; then
  echo "warning: the console's program is MIPS32 release 2, as its manual says" >&2
else
  fail "the console's program is not marked MIPS32 (release 1): $(file -b "$program")"
fi
symbols=$here/build-console/zorvel.dge
if ! $readelf -S -W "$symbols" | grep -q ' \.symtab '; then
  fail "build-console/zorvel.dge has no symbols: the read-only runs cannot script its keys"
fi
# The symbols belong to this program only if stripping them gives the packaged one.
mipsel-linux-gnu-strip --strip-all -o "$tmp/restripped" "$symbols"
cmp -s "$tmp/restripped" "$program" || fail "build-console/zorvel.dge is not the packaged program"

# The usage text as the program prints it, shown as it is in the manual and the README.
(cd "$tmp/opk" && ./zorvel.dge '-?' 2>&1 >/dev/null) | sed -n '/^Usage:/,$p' >"$tmp/usage" || true
[ "$(wc -l <"$tmp/usage")" -eq 3 ] || fail "the program printed no usage text"
for document in "$tmp/opk/zorvel.man.txt" "$here/README.md"; do
  grep -A 2 -xF "$(head -n 1 "$tmp/usage")" "$document" | head -n 3 | cmp -s - "$tmp/usage" ||
    fail "$document does not show the usage text as the program prints it"
done

# --- Each package's folder, read-only, in a mount namespace of its own where there can be one:
# in a chroot the root is no mount point and cannot be made private.
isolate="unshare --mount --propagation private"
if ! $isolate true 2>/dev/null; then
  echo "no private mount namespace here: the read-only folders are mounted in this one"
  isolate=""
fi
for kind in opk zip; do
  package=$opk
  [ "$kind" = zip ] && package=$zip
  mkdir "$tmp/run-$kind"
  $isolate "$here/scripts/run-package-readonly.sh" "$kind" "$package" "$tmp/run-$kind" \
    "$symbols" || failed=1
done

if [ "$failed" -ne 0 ]; then
  echo "package checks: FAILED" >&2
  exit 1
fi
for package in "$opk" "$zip"; do
  echo "package checks: $(basename "$package") ($(wc -c <"$package") bytes) passed"
done

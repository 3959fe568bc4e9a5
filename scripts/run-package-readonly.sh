#!/bin/sh
# Runs the packaged program from a read-only folder, as the console's launchers start it, and
# checks that every step works and that nothing is written inside that folder. Started by
# scripts/check-package.sh, as root, inside a private mount namespace (unshare -m) where it can
# have one; in a chroot, whose root cannot be made private, its mounts are seen outside until it
# removes them as it ends:
#
#   run-package-readonly.sh opk|zip PACKAGE WORK SYMBOLS
#
# WORK is an empty writable folder that becomes a card: the program's folder (the OPK image
# mounted read-only, or the zip's local/apps/zorvel/ bound read-only onto itself) and a writable
# out/ beside it. The program starts headless in its folder with the packaged font path, and
# scripted buttons (tests/package_keys.py, under gdb through qemu's debugger port; SYMBOLS is
# the program or an unstripped copy of it) browse to out/ in the right pane, copy the font there
# from the left pane, open the naming dialog in out/, type "n", finish, and quit.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
kind=$1
package=$2
work=$3
symbols=$4
card=$work/card
out=$card/out
mkdir -p "$out"

loop=""
mounted=""
# The package's folder is unmounted and its loop device freed however this ends.
cleanup() {
  if [ -n "$mounted" ]; then
    umount "$mounted" 2>/dev/null || umount -l "$mounted" 2>/dev/null || true
  fi
  [ -z "$loop" ] || losetup -d "$loop" 2>/dev/null || true
}
trap cleanup EXIT

case $kind in
opk)
  app=$card/apps/zorvel
  mkdir -p "$app"
  # A loop device of its own on a copy of its own: mount would reuse a device still attached to
  # the package's file, with what that file held before.
  cp "$package" "$work/zorvel.opk"
  loop=$(losetup --find --show --read-only "$work/zorvel.opk" 2>/dev/null) || loop=""
  if [ -n "$loop" ] && mount -t squashfs -o ro "$loop" "$app" 2>/dev/null; then
    mounted=$app
    echo "$kind: image mounted read-only ($loop)"
  else
    [ -z "$loop" ] || losetup -d "$loop"
    loop=""
    # Without a loop device or SquashFS in the kernel: the image's files, bound read-only.
    unsquashfs -q -n -d "$work/unpacked" "$package" >/dev/null
    mount --bind "$work/unpacked" "$app"
    mounted=$app
    mount -o remount,bind,ro "$app"
    echo "$kind: image unpacked and bound read-only"
  fi
  ;;
zip)
  unzip -q "$package" -d "$card"
  app=$card/local/apps/zorvel
  mount --bind "$app" "$app"
  mounted=$app
  mount -o remount,bind,ro "$app"
  echo "$kind: folder unpacked and bound read-only"
  ;;
*)
  echo "usage: run-package-readonly.sh opk|zip PACKAGE WORK SYMBOLS" >&2
  exit 2
  ;;
esac

# Every entry of the folder with its mode, size, time and contents.
snapshot() {
  (cd "$app" && find . -printf '%p %y %m %s %T@\n' | LC_ALL=C sort &&
    find . -type f -exec sha256sum {} + | LC_ALL=C sort -k 2)
}
snapshot >"$work/before"
if touch "$app/.probe" 2>/dev/null; then
  echo "FAIL $kind: the program's folder is writable" >&2
  exit 1
fi

# A pane lists "../" and the folders (with "/") first, then the files, each group in byte order.
index_of() { # folder entry
  (
    cd "$1"
    echo "../"
    for entry in * .[!.]* ..?*; do
      [ -d "$entry" ] && [ ! -L "$entry" ] && echo "$entry/"
    done | LC_ALL=C sort
    for entry in * .[!.]* ..?*; do
      { [ -e "$entry" ] || [ -L "$entry" ]; } && { [ ! -d "$entry" ] || [ -L "$entry" ]; } &&
        echo "$entry"
    done | LC_ALL=C sort
  ) | grep -nxF -- "$2" | cut -d: -f1 | awk '{ print $1 - 1 }'
}
copied=VL-Gothic-Regular.ttf
file_row=$(index_of "$app" "$copied")
out_row=$(index_of "$card" "out/")
ups=0
folder=$app
while [ "$folder" != "$card" ]; do
  folder=$(dirname "$folder")
  ups=$((ups + 1))
done

cat >"$work/keys" <<EOF
wait 5
# The right pane goes up to the card and into out/.
tap RIGHT
tap B $ups
tap DOWN $out_row
tap A
# The left pane, still in the program's folder, copies the font into out/.
tap LEFT
tap DOWN $file_row
tap Y
wait 5
# A folder "n" made in out/: the naming dialog with the keyboard's images from the package.
tap RIGHT
with SELECT Y
wait 5
tap A
wait 3
tap START
wait 5
with SELECT START
EOF

# A free port for qemu's debugger.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2>/dev/null ||
  echo $((20000 + $$ % 20000)))
status=0
(
  cd "$app"
  SDL_VIDEODRIVER=dummy QEMU_GDB=$port exec ./zorvel.dge -f VL-Gothic-Regular.ttf
) >"$work/program.log" 2>&1 &
program=$!
ZORVEL_KEYS_PORT=$port ZORVEL_KEYS_PROGRAM=$symbols ZORVEL_KEYS_SCRIPT=$work/keys \
  ZORVEL_KEYS_SYSROOT=${QEMU_LD_PREFIX:-} timeout 300 gdb-multiarch -batch -nx \
  -x "$here/tests/package_keys.py" >"$work/driver.log" 2>&1 || status=$?
# A driver that failed leaves the program waiting for its debugger, or running; the emulator
# holds back every other signal for the program while it waits.
[ "$status" -eq 0 ] || kill -KILL "$program" 2>/dev/null || true
program_status=0
wait "$program" || program_status=$?


failed=0
fail() {
  echo "FAIL $kind: $*" >&2
  failed=1
}
[ "$status" -eq 0 ] || fail "the key driver ended with status $status: $(tail -n 3 "$work/driver.log")"
[ "$program_status" -eq 0 ] || fail "the program ended with status $program_status"
# The log lines of each step, in order.
expected=$work/expected
{
  echo "font file: VL-Gothic-Regular.ttf"
  echo "path: $app"
  folder=$app
  for _ in $(seq "$ups"); do
    folder=$(dirname "$folder")
    echo "chdir: $folder"
  done
  echo "chdir: $out"
  echo "copy: $copied from $app to $out"
  echo "mkdir: n in $out"
  echo "sync disc"
} >"$expected"
grep -v '^font height = ' "$work/program.log" >"$work/steps" || true
if ! cmp -s "$expected" "$work/steps"; then
  fail "the program's log differs from the steps:"
  diff "$expected" "$work/steps" >&2 || true
fi
cmp -s "$app/$copied" "$out/$copied" || fail "the copy of $copied differs or is missing"
[ -d "$out/n" ] || fail "the naming dialog made no folder n in out/"
[ "$(cd "$out" && ls -A | tr '\n' ' ')" = "$copied n " ] || fail "out/ holds $(ls -A "$out")"
snapshot >"$work/after"
cmp -s "$work/before" "$work/after" || fail "something changed inside the program's folder"
if [ "$failed" -eq 0 ]; then
  echo "$kind: browse, copy out, naming dialog and quit work from the read-only folder;" \
    "nothing written inside it"
else
  sed 's/^/  program: /' "$work/program.log" >&2
  sed 's/^/  driver: /' "$work/driver.log" >&2
fi
exit "$failed"

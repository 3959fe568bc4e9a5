#!/bin/sh
# Runs the console program (scripts/build-console.sh) on a real framebuffer with a real keyboard
# and a FAT card, as on the console: Debian's 4kc-malta kernel in qemu-system-mipsel's Malta
# machine, its Cirrus display as /dev/fb0, its PS/2 keyboard, and an image made by mkfs.vfat as
# its IDE disk, mounted with the kernel's own vfat (scripts/console-vm.sh). The program runs on
# SDL's fbcon driver under tools/console/old-kernel-launcher.c, which takes away every system call
# newer than the console's 2.6 kernel has and refuses SEEK_DATA and SEEK_HOLE. The session of
# tests/system/console_session.txt is typed through QEMU's monitor (sendkey) and each screen is
# taken with screendump and compared with the frame the desktop program draws for the same presses.
# Then the card is checked from outside (fsck.fat, mtools): every byte of what the session
# copied, moved, renamed and made; nothing deleted left, no unfinished part. The program's peak
# resident memory (VmHWM) must stay under 8 MiB. Then the program starts again for the names FAT
# will not take (tests/system/console_names_session.txt, the console's screens alone): ':' and
# '?', a trailing dot, a case variant of a name on the card; each must end in its popup with
# nothing made or replaced on the card. Evidence in build-console/system/. Run as root on Debian 12.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build-console
. "$here/scripts/console-vm.sh"
session=$here/tests/system/console_session.txt
names_session=$here/tests/system/console_names_session.txt
tree=/tmp/zorvel-console

# SDL_ttf's and SDL_image's upstream tarballs, where Debian serves no source of them.
[ -n "${ZORVEL_CONSOLE_SOURCES:-}" ] || [ ! -d "$here/../shared/console-sources" ] ||
  export ZORVEL_CONSOLE_SOURCES="$here/../shared/console-sources"
# Built already when run among the console checks (cmake/console-checks.cmake).
[ -n "${ZORVEL_CONSOLE_BUILT:-}" ] || "$here/scripts/build-console.sh" >/dev/null
vm_fetch
"$here/scripts/install-packages.sh" busybox util-linux
"$out/sysroot/bin/cc" -O2 -Wall -Wextra -Werror "$here/tools/console/old-kernel-launcher.c" \
  -o "$out/old-kernel-launcher"
# The desktop program's frames, drawn by the same code on this machine.
env -u PKG_CONFIG_LIBDIR "$here/scripts/setup.sh" host-tools zorvel_console_frames \
  keyboard_images >/dev/null
frames_tool=$out/host/tests/zorvel_console_frames

rm -rf "$work/run" "$work/reference"
mkdir -p "$work/run" "$work/reference"

# --- The test tree, made alike on both sides (the pane titles show its path) in a tmpfs at
# TREE, the card at TREE/card. big.bin's time is set so that its information reads alike.
make_tree='mkdir -p TREE/box TREE/card/saved
head -c 33554432 /dev/urandom >TREE/box/big.bin
echo "to be deleted" >TREE/box/old.txt
head -c 65536 /dev/urandom >TREE/box/sparse.bin
head -c 65536 /dev/urandom | dd of=TREE/box/sparse.bin bs=65536 seek=64 conv=notrunc 2>/dev/null
truncate -s 6291456 TREE/box/sparse.bin
printf "#!/bin/sh\necho \\"script ran: \\$0\\"\n" >TREE/box/run.sh
chmod 755 TREE/box/run.sh
TZ=UTC touch -d "2024-05-06 07:08:10" TREE/box/big.bin
mkdir -p /boot
mount -t tmpfs -o size=8m boot /boot'
tree_commands=$(echo "$make_tree" | sed "s|TREE|$tree|g")

# --- The desktop's frames, in a mount namespace of their own: the tree in a tmpfs as on the
# console, a small tmpfs at /boot for the disk information's first line, and busybox's df and du,
# the console's, so that both sides report the same words.
tools=$work/desktop-tools
mkdir -p "$tools" "$tree"
ln -sf "$(command -v busybox)" "$tools/df"
ln -sf "$(command -v busybox)" "$tools/du"
# In a chroot, whose root cannot be made private, the mounts are seen outside the namespace until
# they are undone at its end.
unshare -m --propagation unchanged sh -c "mount --make-rprivate / 2>/dev/null || true
trap 'umount $tree /boot 2>/dev/null || true' EXIT
set -e
mount -t tmpfs tmpfs $tree
$tree_commands
cp -r '$out/graphics' $tree/graphics
PATH='$tools':\$PATH '$frames_tool' record '$session' $tree '$work/reference'" \
  >"$work/reference/stdout.txt" || fail "the desktop program's session failed"

# --- The card, and the initramfs: busybox as init, the program and its launcher; the tree is
# made at boot.
card=$work/card.img
upper_readme="README, copied from the tmpfs"
mixed_readme="Readme, on the card before the names part"
vm_card_image "$card" 128
vm_initramfs_begin "$work/initramfs" <<EOF
$(vm_init_head)
mkdir -p $tree
mount -t tmpfs tmpfs $tree
mkdir -p $tree/card
$(vm_init_mount_card $tree/card)
$tree_commands
cp -r /images/graphics $tree/graphics
echo "sources:"
md5sum $tree/box/*
echo "end of sources"
echo "framebuffer: \$(cat /sys/class/graphics/fb0/virtual_size) \$(cat /sys/class/graphics/fb0/bits_per_pixel) bits"
cd $tree
SDL_VIDEODRIVER=fbcon SDL_NOMOUSE=1 /old-kernel-launcher /zorvel.dge >/dev/ttyS0 2>&1 &
pid=\$!
# The peak resident memory and the framebuffer's mode, read while the program runs.
while [ -d /proc/\$pid ]; do
  sed -n 's/^VmHWM:[[:space:]]*/vmhwm: /p' /proc/\$pid/status 2>/dev/null
  echo "program's framebuffer: \$(cat /sys/class/graphics/fb0/virtual_size) \$(cat /sys/class/graphics/fb0/bits_per_pixel) bits"
  sleep 1
done &
wait \$pid
echo "session status: \$?"
# The names part: odd/ in the tmpfs with names FAT refuses, card/names/ with a mixed-case name.
mkdir -p "$tree/odd/what?" $tree/card/names
echo "a file in what?" >"$tree/odd/what?/inside.txt"
echo "$upper_readme" >$tree/odd/README
echo "a colon" >"$tree/odd/a:b"
echo "a trailing dot" >"$tree/odd/x."
echo "$mixed_readme" >$tree/card/names/Readme
sync
echo "names part"
SDL_VIDEODRIVER=fbcon SDL_NOMOUSE=1 /old-kernel-launcher /zorvel.dge >/dev/ttyS0 2>&1
echo "names session status: \$?"
umount $tree/card && echo "card unmounted"
echo "end of session"
poweroff -f
EOF
cp "$out/old-kernel-launcher" "$work/initramfs/old-kernel-launcher"
vm_initramfs_pack "$work/initramfs.gz"

vm_start "$work/initramfs.gz" "$work/run" -drive "file=$card,format=raw,if=ide"
wait_for "^path: $tree" 180
sleep 2
results=$work/results.txt
: >"$results"
vm_session "$session" "$work/reference" "$results"
wait_for "^names part" 60
names_start=$(date +%s)
until [ "$(grep -c "^path: $tree" "$serial")" -ge 2 ]; do
  sleep 1
  [ "$(($(date +%s) - names_start))" -lt 60 ] || fail "the program did not start again for the names part"
done
sleep 2
vm_session "$names_session" "" "$results"
wait_for "^end of session" 120
vm_end
cp "$serial" "$work/serial.txt"

# --- What the program logged: every command, and the script it started, which ended it.
grep -q "^card: /dev/sda $tree/card vfat" "$serial" || fail "the card was not mounted as vfat"
grep -q "^card unmounted" "$serial" || fail "the card could not be unmounted"
grep -q "^session status: 0" "$serial" || fail "the session did not end with status 0"
for line in "copy: box/ from $tree to $tree/card" "delete: old.txt" \
  "move: big.bin from $tree/card/box to $tree/card/saved" "rename: sparse.bin to sparse.binn" \
  "mkdir: dmn in $tree/card/box" "execute: $tree/box/run.sh" "script ran: $tree/box/run.sh"; do
  grep -qF "$line" "$serial" || fail "no log line '$line'"
done
# The names part: every command reached, no directory made, no rename to a case variant tried.
grep -q "^names session status: 0" "$serial" || fail "the names part did not end with status 0"
names=$tree/card/names
for line in "rename: Readme to Readme?" "rename: Readme to Readm." "rename: Readme to Readme:" \
  "copy: what?/ from $tree/odd to $names" "copy: README from $tree/odd to $names" \
  "move: README from $tree/odd to $names" "copy: a:b from $tree/odd to $names" \
  "copy: x. from $tree/odd to $names"; do
  grep -qxF "$line" "$serial" || fail "no log line '$line'"
done
for line in "mkdir: a:b in $names" "mkdir: x. in $names" "mkdir: what? in $names" \
  "rename: Readme to ReadmE"; do
  ! grep -qxF "$line" "$serial" || fail "log line '$line': FAT took a name it cannot hold"
done

# --- The card from outside: a sound file system holding exactly what the session left.
fsck.fat -n "$card" >"$work/fsck.txt" 2>&1 || fail "fsck.fat finds the card damaged (see $work/fsck.txt)"
MTOOLS_SKIP_CHECK=1 mdir -i "$card" -/ -b :: | sed "s|^::|card:|" | sort >"$work/card-files.txt"
sort >"$work/card-expected.txt" <<EOF
card:/box/
card:/box/dmn/
card:/box/run.sh
card:/box/sparse.binn
card:/names/
card:/names/Readme
card:/saved/
card:/saved/big.bin
EOF
diff -u "$work/card-expected.txt" "$work/card-files.txt" ||
  fail "the card holds other entries than the session leaves"
source_sum() {
  sed -n "s|^\([0-9a-f]\{32\}\)  $tree/box/$1\$|\1|p" "$serial"
}
card_sum() {
  MTOOLS_SKIP_CHECK=1 mtype -i "$card" "::$1" | md5sum | cut -d' ' -f1
}
for pair in big.bin:/saved/big.bin sparse.bin:/box/sparse.binn run.sh:/box/run.sh; do
  source=${pair%%:*} copy=${pair#*:}
  [ -n "$(source_sum "$source")" ] || fail "no checksum of $source from the console"
  [ "$(source_sum "$source")" = "$(card_sum "$copy")" ] ||
    fail "$copy on the card is not an exact copy of box/$source"
done
[ "$(MTOOLS_SKIP_CHECK=1 mtype -i "$card" ::/names/Readme)" = "$mixed_readme" ] ||
  fail "names/Readme on the card lost its bytes"
echo "card: fsck.fat -n clean; $(wc -l <"$work/card-files.txt") entries as expected, every byte as the source" |
  tee -a "$results"

peak=$(sed -n 's/^vmhwm: \([0-9]*\) kB/\1/p' "$serial" | sort -n | tail -n 1)
[ -n "$peak" ] || fail "no VmHWM reading"
echo "peak resident memory (VmHWM): $peak kB" | tee -a "$results"
[ "$peak" -lt 8192 ] || fail "VmHWM $peak kB is not under 8 MiB"
grep "^framebuffer:" "$serial" | sed 's/^/at boot: /' | tee -a "$results"
# The mode most readings saw: the last ones may come after the program gave the mode back.
grep "^program's framebuffer:" "$serial" | sort | uniq -c | sort -rn | head -n 1 |
  sed 's/^ *[0-9]* //' | tee -a "$results"
[ "$failures" -eq 0 ] || fail "$failures screens differ from the desktop's (see $results)"
echo "console-system-test: passed (evidence in $work)"

#!/bin/sh
# Cuts the console's power in the middle of a folder copy onto its FAT card: the program
# (scripts/build-console.sh, under tools/console/old-kernel-launcher.c) runs in the emulated
# Malta machine of scripts/console-vm.sh with the card image as its IDE disk, mounted without
# sync and with the kernel writing back early, as a busy console does; a folder of a few files,
# one of 24 MiB, is copied onto the card, which writes as slowly as an SD card, and
# qemu-system-mipsel is killed (SIGKILL) at several points of the copy and its writeback. Each time the card is then read from outside: fsck.fat -n must
# find it usable (lost clusters may be reclaimed), every file under its own name must hold every
# byte of its source, and anything else must be an unfinished NAME.zorvel-part or nothing.
# Usage: console-power-cut-test.sh [DELAY...] (seconds after the copy's press; default below).
# Evidence in build-console/system/power-cut/. Run as root on Debian 12.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build-console
. "$here/scripts/console-vm.sh"
delays=${*:-1 3 6 9}
tree=/tmp/zorvel-power
cut=$work/power-cut

# SDL_ttf's and SDL_image's upstream tarballs, where Debian serves no source of them.
[ -n "${ZORVEL_CONSOLE_SOURCES:-}" ] || [ ! -d "$here/../shared/console-sources" ] ||
  export ZORVEL_CONSOLE_SOURCES="$here/../shared/console-sources"
# Built already when run among the console checks (cmake/console-checks.cmake).
[ -n "${ZORVEL_CONSOLE_BUILT:-}" ] || "$here/scripts/build-console.sh" >/dev/null
vm_fetch
"$out/sysroot/bin/cc" -O2 -Wall -Wextra -Werror "$here/tools/console/old-kernel-launcher.c" \
  -o "$out/old-kernel-launcher"
rm -rf "$cut"
mkdir -p "$cut/files"

# --- The folder to copy, made here so that its bytes can be compared; listed in the order the
# copy takes them.
head -c 2097152 /dev/urandom >"$cut/files/a.bin"
head -c 25165824 /dev/urandom >"$cut/files/b.bin"
echo "a small file copied last" >"$cut/files/c.txt"
head -c 1048576 /dev/urandom >"$cut/files/d.bin"

vm_initramfs_begin "$cut/initramfs" <<EOF
$(vm_init_head)
mkdir -p $tree/card
$(vm_init_mount_card $tree/card)
# The kernel writes dirty pages back within a second of their writing, not only after 30 s.
echo 50 >/proc/sys/vm/dirty_writeback_centisecs
echo 100 >/proc/sys/vm/dirty_expire_centisecs
cd $tree
SDL_VIDEODRIVER=fbcon SDL_NOMOUSE=1 /old-kernel-launcher /zorvel.dge >/dev/ttyS0 2>&1
echo "session status: \$?"
EOF
cp "$out/old-kernel-launcher" "$cut/initramfs/old-kernel-launcher"
mkdir -p "$cut/initramfs$tree"
cp -r "$cut/files" "$cut/initramfs$tree/files"
vm_initramfs_pack "$cut/initramfs.gz"

# Checks the card image $1 after a cut; the findings go to standard output.
check_card() {
  image=$1
  status=0
  fsck.fat -n "$image" >"$image.fsck.txt" 2>&1 || status=$?
  # 1: errors found that a repair would mend (lost clusters, a wrong free count); more: unusable.
  [ "$status" -le 1 ] || {
    echo "fsck.fat -n: status $status"
    return 1
  }
  grep -v "^fsck.fat\|^$image:" "$image.fsck.txt" | sed 's/^/  fsck: /'
  MTOOLS_SKIP_CHECK=1 mdir -i "$image" -/ -b ::/ >"$image.files.txt" 2>&1 || {
    echo "mdir cannot read the card"
    return 1
  }
  bad=0
  while read -r entry; do
    name=${entry#::/files/}
    case $entry in
    ::/files/) continue ;;
    ::/files/*) ;;
    *)
      echo "  unexpected entry $entry"
      bad=1
      continue
      ;;
    esac
    if [ -f "$cut/files/$name" ]; then
      if MTOOLS_SKIP_CHECK=1 mtype -i "$image" "$entry" | cmp -s - "$cut/files/$name"; then
        echo "  $name: complete, every byte as its source"
      else
        echo "  $name: DIFFERS from its source ($(MTOOLS_SKIP_CHECK=1 mtype -i "$image" "$entry" | wc -c) bytes)"
        bad=1
      fi
    elif [ -f "$cut/files/${name%.zorvel-part}" ]; then
      echo "  $name: unfinished part"
    else
      echo "  unexpected entry $entry"
      bad=1
    fi
  done <"$image.files.txt"
  return "$bad"
}

failed=0
for delay in $delays; do
  card=$cut/card-$delay.img
  vm_card_image "$card" 64
  # The card writes 4 MB a second, as a slow SD card does: the writeback takes seconds.
  vm_start "$cut/initramfs.gz" "$cut/run-$delay" \
    -drive "file=$card,format=raw,if=ide,throttling.bps-write=4000000"
  wait_for "^path: $tree" 180
  grep -q "^card: /dev/sda $tree/card vfat" "$serial" || fail "the card was not mounted as vfat"
  sleep 2
  # The right pane into card/, the left pane onto files/, and the copy.
  for buttons in right down a left down down; do
    tap "$buttons"
    sleep 0.8
  done
  tap y
  sleep "$delay"
  kill -9 "$qemu"
  vm_end 2>/dev/null
  echo "cut $delay s after the copy's press:" | tee -a "$cut/results.txt"
  card_status=0
  check_card "$card" >"$card.check.txt" || card_status=$?
  tee -a "$cut/results.txt" <"$card.check.txt"
  [ "$card_status" -eq 0 ] || failed=$((failed + 1))
done
[ "$failed" -eq 0 ] || fail "$failed of the cuts left the card with a wrong file (see $cut/results.txt)"
echo "console-power-cut-test: passed (evidence in $cut)"

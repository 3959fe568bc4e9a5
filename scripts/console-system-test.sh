#!/bin/sh
# Runs the console program (scripts/build-console.sh) on a real framebuffer with a real keyboard:
# Debian's 4kc-malta kernel in qemu-system-mipsel's Malta machine, its Cirrus display as
# /dev/fb0 and its PS/2 keyboard, an initramfs with busybox, the program, its images, the font
# and a test tree. The program runs on SDL's fbcon driver; the session of
# tests/console_session.txt is typed through QEMU's monitor (sendkey) and each screen is taken
# with screendump and compared with the frame the desktop program draws for the same presses.
# Then the files the session changed are checked, and the program's peak resident memory
# (VmHWM) must stay under 8 MiB. Evidence in build-console/system/. Run as root on Debian 12.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build-console
work=$out/system
session=$here/tests/console_session.txt
tree=/tmp/zorvel-console
font=/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf
hold_ms=200

# SDL_ttf's and SDL_image's upstream tarballs, where Debian serves no source of them.
[ -n "${ZORVEL_CONSOLE_SOURCES:-}" ] || [ ! -d "$here/../shared/console-sources" ] ||
  export ZORVEL_CONSOLE_SOURCES="$here/../shared/console-sources"
"$here/scripts/build-console.sh" >/dev/null
"$here/scripts/install-packages.sh" qemu-system-mips seabios ipxe-qemu cpio gzip
# The desktop program's frames, drawn by the same code on this machine.
env -u PKG_CONFIG_LIBDIR "$here/scripts/setup.sh" "$out/host" Release zorvel_console_frames \
  keyboard_images >/dev/null
frames_tool=$out/host/tests/zorvel_console_frames

fail() {
  echo "console-system-test: FAILED: $*" >&2
  exit 1
}

# --- Debian's mipsel kernel and busybox, unpacked once.
. "$here/scripts/console-apt.sh"
if [ ! -f "$work/debs/.unpacked" ]; then
  private_apt_ready >/dev/null
  kernel_package=$(private_apt_tool apt-cache depends linux-image-4kc-malta |
    sed -n 's/^ *Depends: \(linux-image-[0-9].*-4kc-malta\)$/\1/p' | head -n 1)
  [ -n "$kernel_package" ] || fail "no linux-image-*-4kc-malta package listed"
  rm -rf "$work/debs" "$work/root"
  mkdir -p "$work/debs" "$work/root"
  (cd "$work/debs" && private_apt download "$kernel_package" busybox-static >/dev/null)
  for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
  touch "$work/debs/.unpacked"
fi
kernel=$(ls "$work"/root/boot/vmlinuz-*-4kc-malta | head -n 1)

rm -rf "$work/run" "$work/reference"
mkdir -p "$work/run" "$work/reference"

# --- The test tree, made alike on both sides (the pane titles show its path): box/ with a
# 32 MiB file and a small one, saved/, and the keyboard's images.
make_tree='mkdir -p TREE/box TREE/saved
head -c 33554432 /dev/urandom >TREE/box/big.bin
echo "to be deleted" >TREE/box/old.txt'

# --- The desktop's frames.
rm -rf "$tree"
sh -c "$(echo "$make_tree" | sed "s|TREE|$tree|g")"
cp -r "$out/graphics" "$tree/graphics"
"$frames_tool" record "$session" "$tree" "$work/reference" >"$work/reference/stdout.txt" ||
  fail "the desktop program's session failed"
rm -rf "$tree"

# --- The initramfs: busybox as init, the program at /zorvel.dge, the font where the program
# looks by default, the images; the tree is made at boot.
initramfs=$work/initramfs
rm -rf "$initramfs"
mkdir -p "$initramfs/bin" "$initramfs/usr/local/share" "$initramfs/images"
cp "$work/root/bin/busybox" "$initramfs/bin/busybox"
cp "$out/zorvel.dge" "$initramfs/zorvel.dge"
cp "$font" "$initramfs/usr/local/share/VL-Gothic-Regular.ttf"
cp -r "$out/graphics" "$initramfs/images/graphics"
cat >"$initramfs/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /tmp
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
$(echo "$make_tree" | sed "s|TREE|$tree|g")
cp -r /images/graphics $tree/graphics
echo "framebuffer: \$(cat /sys/class/graphics/fb0/virtual_size) \$(cat /sys/class/graphics/fb0/bits_per_pixel) bits"
cd $tree
SDL_VIDEODRIVER=fbcon SDL_NOMOUSE=1 /zorvel.dge >/dev/ttyS0 2>&1 &
pid=\$!
# The peak resident memory and the framebuffer's mode, read while the program runs.
while [ -d /proc/\$pid ]; do
  sed -n 's/^VmHWM:[[:space:]]*/vmhwm: /p' /proc/\$pid/status 2>/dev/null
  echo "program's framebuffer: \$(cat /sys/class/graphics/fb0/virtual_size) \$(cat /sys/class/graphics/fb0/bits_per_pixel) bits"
  sleep 1
done &
wait \$pid
echo "zorvel status: \$?"
sleep 1
echo "files:"
ls -l $tree/box $tree/saved
md5sum $tree/box/big.bin $tree/saved/big.bin
echo "end of files"
poweroff -f
EOF
chmod +x "$initramfs/init"
(cd "$initramfs" && find . | cpio -o -H newc --quiet | gzip -1 >"$work/initramfs.gz")

# --- The machine, with its monitor read from a pipe and its serial line in a file.
mkfifo "$work/run/monitor"
serial=$work/run/serial.txt
: >"$serial"
qemu-system-mipsel -M malta -cpu 24Kf -m 256 -kernel "$kernel" -initrd "$work/initramfs.gz" \
  -append "console=ttyS0 quiet" -display none -serial "file:$serial" -monitor stdio \
  -no-reboot <"$work/run/monitor" >"$work/run/monitor.txt" 2>&1 &
qemu=$!
exec 3>"$work/run/monitor"
trap 'kill "$qemu" 2>/dev/null || true' EXIT
monitor() { echo "$*" >&3; }

wait_for() {
  waited=0
  until grep -q "$1" "$serial"; do
    sleep 1
    waited=$((waited + 1))
    [ "$waited" -lt "$2" ] || fail "no '$1' on the console within $2 s"
  done
}
# A screendump, complete once its file stops growing.
dump_number=0
dump() {
  dump_number=$((dump_number + 1))
  file=$work/run/dump-$dump_number.ppm
  monitor "screendump $file"
  size=-1
  while [ ! -s "$file" ] || [ "$(stat -c %s "$file")" != "$size" ]; do
    size=$(stat -c %s "$file" 2>/dev/null || echo 0)
    sleep 0.1
  done
  last_dump=$file
}
# The screen once it has not changed for half a second.
settled() {
  dump
  previous=$last_dump
  tries=0
  while :; do
    sleep 0.5
    dump
    cmp -s "$previous" "$last_dump" && break
    previous=$last_dump
    tries=$((tries + 1))
    [ "$tries" -lt 30 ] || fail "the screen does not settle"
  done
}
qemu_keys() {
  echo "$1" | sed -e 's/\bselect\b/esc/g' -e 's/\bstart\b/ret/g' -e 's/\ba\b/ctrl/g' \
    -e 's/\bb\b/alt/g' -e 's/\bx\b/spc/g' -e 's/\by\b/shift/g' -e 's/\bl\b/tab/g' \
    -e 's/\br\b/backspace/g' -e 's/+/-/g'
}

wait_for "^path: $tree" 180
sleep 2
results=$work/results.txt
: >"$results"
failures=0
check() {
  name=$1
  shift
  if result=$("$frames_tool" compare "$@"); then
    echo "$name: $result" | tee -a "$results"
  else
    echo "$name: MISMATCH: $result" | tee -a "$results"
    failures=$((failures + 1))
  fi
}
vmhwm_after_copy=""
tapped=0
while read -r verb argument; do
  case $verb in
  '' | '#'*) ;;
  tap)
    [ "$tapped" -eq 0 ] || sleep 0.8
    monitor "sendkey $(qemu_keys "$argument") $hold_ms"
    tapped=1
    ;;
  capture)
    [ "$tapped" -eq 0 ] || sleep 0.8
    tapped=0
    settled
    cp "$last_dump" "$work/run/$argument.ppm"
    check "$argument" "$work/run/$argument.ppm" "$work/reference/$argument.bmp"
    [ "$argument" != copied ] || vmhwm_after_copy=$(sed -n 's/^vmhwm: //p' "$serial" | tail -n 1)
    ;;
  copying)
    # The dialog shows while the copy runs, which takes the emulated machine a fraction of a
    # second: from the press on, the machine runs in short slices (the time a screendump's round
    # trip takes), stopped for a screendump after each, so the bar is seen as it fills.
    tapped=0
    shown=0
    for number in $(seq 1 30); do
      monitor stop
      dump
      monitor cont
      if result=$("$frames_tool" compare "$last_dump" "$work/reference/$argument"-*.bmp); then
        shown=$((shown + 1))
        cp "$last_dump" "$work/run/$argument-$number.ppm"
        echo "  $argument-$number: $result" >>"$work/run/$argument.txt"
      fi
    done
    if [ "$shown" -gt 0 ]; then
      echo "$argument: $shown screendumps during the copy match the desktop's \"Copying\" frames" |
        tee -a "$results"
      cat "$work/run/$argument.txt" | tee -a "$results"
    else
      echo "$argument: MISMATCH: no screendump shows the \"Copying\" dialog" | tee -a "$results"
      failures=$((failures + 1))
    fi
    ;;
  esac
done <"$session"

wait_for "^end of files" 120
wait "$qemu" || true
trap - EXIT
tr -d '\r' <"$serial" >"$work/serial.txt"
serial=$work/serial.txt
sed -n '/^files:/,/^end of files/p' "$serial" >"$work/files.txt"

# --- What the session did to the files, what the program logged, and its memory.
grep -q "^zorvel status: 0" "$serial" || fail "the program did not end with status 0"
for line in "copy: big.bin from $tree/box to $tree/saved" "delete: old.txt" \
  "mkdir: dmn in $tree/box" "sync disc"; do
  grep -qF "$line" "$serial" || fail "no log line '$line'"
done
sums=$(sed -n 's/^\([0-9a-f]\{32\}\)  .*big.bin.*/\1/p' "$work/files.txt" | sort -u | wc -l)
copies=$(sed -n 's/^\([0-9a-f]\{32\}\)  .*big.bin.*/\1/p' "$work/files.txt" | wc -l)
[ "$copies" -eq 2 ] && [ "$sums" -eq 1 ] || fail "saved/big.bin is not an exact copy of box/big.bin"
grep -q "old.txt" "$work/files.txt" && fail "old.txt was not deleted"
grep -q "^d.* dmn$" "$work/files.txt" || fail "the directory dmn was not made"
peak=$(sed -n 's/^vmhwm: \([0-9]*\) kB/\1/p' "$serial" | sort -n | tail -n 1)
[ -n "$peak" ] || fail "no VmHWM reading"
echo "peak resident memory (VmHWM): after the copy ${vmhwm_after_copy:-?}, at the end $peak kB" |
  tee -a "$results"
[ "$peak" -lt 8192 ] || fail "VmHWM $peak kB is not under 8 MiB"
grep "^framebuffer:" "$serial" | sed 's/^/at boot: /' | tee -a "$results"
# The mode most readings saw: the last ones may come after the program gave the mode back.
grep "^program's framebuffer:" "$serial" | sort | uniq -c | sort -rn | head -n 1 |
  sed 's/^ *[0-9]* //' | tee -a "$results"
[ "$failures" -eq 0 ] || fail "$failures screens differ from the desktop's (see $results)"
echo "console-system-test: passed (evidence in $work)"

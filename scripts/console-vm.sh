# Sourced by the console's emulated-machine tests (scripts/console-system-test.sh,
# scripts/console-power-cut-test.sh): Debian's 4kc-malta kernel and busybox, the initramfs, the
# FAT card, qemu-system-mipsel's Malta machine with its monitor on a pipe, and the waits on its
# serial line and screen. Needs $here (the project) and $out (build-console/) set; the machine's
# files go to $work (build-console/system/).
work=$out/system
font=/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf
# The kernel's modules that the card needs: the Malta's IDE controller (PIIX4) and FAT with the
# code pages its names are read in; the rest of the disk stack is built into the kernel.
card_modules="ata_piix vfat nls_cp437 nls_iso8859-1 nls_utf8 nls_ascii"

fail() {
  echo "${0##*/}: FAILED: $*" >&2
  exit 1
}

# --- Debian's mipsel kernel and busybox, unpacked once into $work/root.
vm_fetch() {
  "$here/scripts/install-packages.sh" qemu-system-mips seabios ipxe-qemu cpio gzip mtools \
    dosfstools
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
  kernel_release=${kernel##*/vmlinuz-}
}

# --- The initramfs in directory $1: busybox, the program, the font where the program looks by
# default, the keyboard's images, the card's modules, and /init from standard input.
vm_initramfs_begin() {
  initramfs=$1
  rm -rf "$initramfs"
  mkdir -p "$initramfs/bin" "$initramfs/usr/local/share" "$initramfs/images"
  cp "$work/root/bin/busybox" "$initramfs/bin/busybox"
  cp "$out/zorvel.dge" "$initramfs/zorvel.dge"
  cp "$font" "$initramfs/usr/local/share/VL-Gothic-Regular.ttf"
  cp -r "$out/graphics" "$initramfs/images/graphics"
  modules=$initramfs/lib/modules/$kernel_release
  mkdir -p "$modules"
  # vfat needs fat: modprobe finds it through modules.dep.
  for module in $card_modules fat; do
    file=$(find "$work/root/lib/modules/$kernel_release" -name "$module.ko*" | head -n 1)
    [ -n "$file" ] || fail "no module $module in the kernel's package"
    cp "$file" "$modules/"
  done
  cat >"$initramfs/init"
  chmod +x "$initramfs/init"
}
# Packs the initramfs of vm_initramfs_begin into file $1.
vm_initramfs_pack() {
  (cd "$initramfs" && find . | cpio -o -H newc --quiet | gzip -1 >"$1")
}

# The start of every /init: busybox's commands, /proc, /sys, /dev, then the card's modules loaded
# in the order modules.dep gives (busybox's depmod writes it, modprobe follows it).
vm_init_head() {
  cat <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /tmp
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
depmod
EOF
  echo "for module in $card_modules; do modprobe \$module || echo \"modprobe \$module failed\"; done"
}
# Mounts the card (/dev/sda) at $1 as the console's FAT card is mounted: the kernel's vfat, names
# in UTF-8 (utf8) as the desktop's, and names shown as they were written (shortname=mixed: a
# short upper-case name like README is not shown lower-cased), without sync, so that the kernel
# writes back when it will, as on the console.
vm_init_mount_card() {
  cat <<EOF
for wait in 1 2 3 4 5 6 7 8 9 10; do [ -b /dev/sda ] && break; sleep 1; done
mkdir -p $1
mount -t vfat -o utf8,shortname=mixed /dev/sda $1 || echo "card not mounted"
grep " $1 " /proc/mounts | sed 's/^/card: /'
EOF
}

# An empty FAT card image of $2 MiB in file $1.
vm_card_image() {
  rm -f "$1"
  truncate -s "$2M" "$1"
  mkfs.vfat -n ZORVELCARD "$1" >/dev/null
}

# --- The machine, with its monitor read from a pipe and its serial line in a file; $1 the
# initramfs, $2 the folder for the run's files, the rest qemu's further options. Sets $qemu (its
# process), $serial and $run.
vm_start() {
  vm_initrd=$1
  run=$2
  shift 2
  rm -rf "$run"
  mkdir -p "$run"
  mkfifo "$run/monitor"
  serial=$run/serial.txt
  : >"$serial"
  qemu-system-mipsel -M malta -cpu 24Kf -m 256 -kernel "$kernel" -initrd "$vm_initrd" \
    -append "console=ttyS0 quiet" -display none -serial "file:$serial" -monitor stdio \
    -no-reboot "$@" <"$run/monitor" >"$run/monitor.txt" 2>&1 &
  qemu=$!
  exec 3>"$run/monitor"
  trap 'kill "$qemu" 2>/dev/null || true' EXIT
}
monitor() { echo "$*" >&3; }
# Waits for the machine to end by itself, and keeps its serial line without carriage returns.
vm_end() {
  wait "$qemu" || true
  exec 3>&-
  trap - EXIT
  tr -d '\r' <"$serial" >"$run/serial-clean.txt"
  serial=$run/serial-clean.txt
}

# Waits until the serial line holds a line matching $1, at most $2 seconds.
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
  file=$run/dump-$dump_number.ppm
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
# The session's buttons as the keys QEMU's sendkey names.
hold_ms=200
qemu_keys() {
  echo "$1" | sed -e 's/\bselect\b/esc/g' -e 's/\bstart\b/ret/g' -e 's/\ba\b/ctrl/g' \
    -e 's/\bb\b/alt/g' -e 's/\bx\b/spc/g' -e 's/\by\b/shift/g' -e 's/\bl\b/tab/g' \
    -e 's/\br\b/backspace/g' -e 's/+/-/g'
}
# Presses the buttons of one "tap" step.
tap() {
  monitor "sendkey $(qemu_keys "$1") $hold_ms"
}

# --- A session file (tests/system/console_session.txt's format) typed into the running program:
# every "capture" is compared with the desktop's frame of that name in $2 (zorvel_console_frames
# compare, $frames_tool), results appended to $3; $failures counts the screens that differ.
# Screens the desktop does not share (tests/system/console_names_session.txt): "look NAME [LIKE]"
# keeps the settled screen as NAME, byte for byte the one kept as LIKE when that is given; "popup
# NAME [LIKE]" keeps it too, and it must differ from the last look's.
failures=0
vm_session() {
  session_file=$1 reference=$2 results=$3
  last_look=
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
  tapped=0
  while read -r verb argument; do
    case $verb in
    '' | '#'*) ;;
    tap)
      [ "$tapped" -eq 0 ] || sleep 0.8
      tap "$argument"
      tapped=1
      ;;
    capture)
      [ "$tapped" -eq 0 ] || sleep 0.8
      tapped=0
      settled
      cp "$last_dump" "$run/$argument.ppm"
      check "$argument" "$run/$argument.ppm" "$reference/$argument.bmp"
      ;;
    look | popup)
      [ "$tapped" -eq 0 ] || sleep 0.8
      tapped=0
      settled
      name=${argument%% *}
      like=${argument#"$name"}
      like=${like# }
      cp "$last_dump" "$run/$name.ppm"
      said="$verb $name:"
      if [ "$verb" = popup ]; then
        if [ -z "$last_look" ] || cmp -s "$run/$name.ppm" "$run/$last_look.ppm"; then
          said="$said MISMATCH: the screen is the same as $last_look's, no popup;"
          failures=$((failures + 1))
        else
          said="$said differs from $last_look;"
        fi
      else
        last_look=$name
      fi
      if [ -n "$like" ]; then
        if cmp -s "$run/$name.ppm" "$run/$like.ppm"; then
          said="$said the same screen as $like;"
        else
          said="$said MISMATCH: not the same screen as $like;"
          failures=$((failures + 1))
        fi
      fi
      said=${said%;}
      echo "${said%:}" | tee -a "$results"
      ;;
    copying)
      # The dialog shows while the copy runs, which may take the emulated machine a fraction of
      # a second: from the press on, the machine runs in short slices (the time a screendump's
      # round trip takes), stopped for a screendump after each, so the bar is seen as it fills.
      tapped=0
      shown=0
      for number in $(seq 1 30); do
        monitor stop
        dump
        monitor cont
        if result=$("$frames_tool" compare "$last_dump" "$reference/$argument"-*.bmp); then
          shown=$((shown + 1))
          cp "$last_dump" "$run/$argument-$number.ppm"
          echo "  $argument-$number: $result" >>"$run/$argument.txt"
        fi
      done
      if [ "$shown" -gt 0 ]; then
        echo "$argument: $shown screendumps during the copy match the desktop's \"Copying\" frames" |
          tee -a "$results"
        tee -a "$results" <"$run/$argument.txt"
      else
        echo "$argument: MISMATCH: no screendump shows the \"Copying\" dialog" | tee -a "$results"
        failures=$((failures + 1))
      fi
      ;;
    esac
  done <"$session_file"
}

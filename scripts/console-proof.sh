#!/bin/sh
# Proves at the instruction level that build-console/zorvel.dge (made here by
# scripts/build-console.sh) can run on the console: no program interpreter and no needed
# libraries; no MIPS32 release 2 instruction anywhere in its code
# (scripts/console-release2-scan.sh), no floating-point instruction, and an ELF header that says MIPS32; and a run under qemu's
# user-mode emulation of a release 1 CPU without a floating-point unit (4Kc) on SDL's dummy video
# driver in a temporary tree, ended by SIGTERM. With Debian's prebuilt SDL_ttf or SDL_image (the
# build's last resort) it names the object files that hold release 2 instructions and the
# instruction where the 4Kc stops, and runs the program on a release 2 core instead. The evidence
# stays in build-console/proof/. Run as root on Debian 12 (the build installs what it needs). The
# sources folder for the build is the environment's ZORVEL_CONSOLE_SOURCES, or
# ../shared/console-sources beside the project when it is there (scripts/build-console.sh).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build-console
proof=$out/proof
program=$out/zorvel.dge
font=/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf

[ -n "${ZORVEL_CONSOLE_SOURCES:-}" ] || [ ! -d "$here/../shared/console-sources" ] ||
  export ZORVEL_CONSOLE_SOURCES="$here/../shared/console-sources"
# Built already when run among the console checks (cmake/console-checks.cmake).
[ -n "${ZORVEL_CONSOLE_BUILT:-}" ] || "$here/scripts/build-console.sh" >/dev/null
rm -rf "$proof"
mkdir -p "$proof"
fail() {
  echo "console-proof: FAILED: $*" >&2
  exit 1
}

# 1. Static: no INTERP program header, no dynamic section, so no NEEDED library.
mipsel-linux-gnu-readelf -h -l -d "$program" >"$proof/readelf.txt"
grep -q INTERP "$proof/readelf.txt" && fail "the program asks for an interpreter"
grep -q NEEDED "$proof/readelf.txt" && fail "the program needs shared libraries"
grep -q "There is no dynamic section" "$proof/readelf.txt" || fail "the program has a dynamic section"
echo "static: no INTERP, no NEEDED ($(stat -c %s "$program") bytes)"

# 2. Release 2 instructions in the whole disassembly (scripts/console-release2-scan.sh).
mipsel-linux-gnu-objdump -d --no-show-raw-insn "$program" >"$proof/disassembly.txt"
"$here/scripts/console-release2-scan.sh" "$program" >"$proof/release2-instructions.txt"
# Each one is traced to the object file it was linked from, by the link map's address ranges.
awk '
  function hex(text,   value, i, digit) {
    value = 0; text = tolower(text); sub(/^0x/, "", text)
    for (i = 1; i <= length(text); i++) {
      digit = index("0123456789abcdef", substr(text, i, 1)) - 1
      value = value * 16 + digit
    }
    return value
  }
  FNR == NR {
    # A section line of the map: " .text[.name] ADDRESS SIZE FILE", the name alone on its line
    # when it is long.
    if ($0 ~ /^ \.text/ && NF == 1) { pending = 1; next }
    if (pending && NF == 3 && $1 ~ /^0x/) { line = " .text " $0; pending = 0 } else line = $0
    pending = 0
    split(line, field, " ")
    if (field[1] ~ /^\.text/ && field[2] ~ /^0x/ && field[3] ~ /^0x/ && field[4] != "") {
      start[n] = hex(field[2]); end[n] = start[n] + hex(field[3]); file[n] = field[4]; n++
    }
    next
  }
  {
    at = hex($1); where = "?"
    for (i = 0; i < n; i++) if (at >= start[i] && at < end[i]) { where = file[i]; break }
    print where, $2, $3
  }' "$out/zorvel.dge.map" "$proof/release2-instructions.txt" >"$proof/release2-by-object.txt"
count=$(wc -l <"$proof/release2-instructions.txt")
mipsel-linux-gnu-readelf -h -A "$program" >"$proof/header.txt"
file "$program" >"$proof/file.txt"
if [ "$count" -eq 0 ]; then
  echo "release 1: no release 2 instruction in the whole disassembly"
  # The build marks the header release 1 once its own scan found none (scripts/build-console.sh).
  grep -q 'Flags:.*, mips32$' "$proof/header.txt" || fail "the ELF header's flags do not say mips32"
  grep -qx 'ISA: MIPS32' "$proof/header.txt" || fail "the .MIPS.abiflags ISA is not MIPS32"
  grep -q 'MIPS32 version 1' "$proof/file.txt" ||
    fail "file does not see a MIPS32 (release 1) program"
  # No floating-point instruction either: the console's CPU has no unit for them (the build does
  # floating point in software).
  awk '$2 ~ /^([ls][wd]c1|[ls][wdu]xc1|m[ft]h?c1|[cm][ft]c1|bc1[ft]l?|[a-z]+(\.[a-z]+)*\.(s|d|w|l|ps))$/' \
    "$proof/disassembly.txt" >"$proof/fpu-instructions.txt"
  [ ! -s "$proof/fpu-instructions.txt" ] ||
    fail "$(wc -l <"$proof/fpu-instructions.txt") floating-point instructions" \
      "(fpu-instructions.txt)"
  echo "no floating-point instruction"
else
  # Only Debian's prebuilt SDL_ttf and SDL_image (the build's last resort, when no source of them
  # can be had) may hold them: anything else is a fault of this build.
  awk '{print $1}' "$proof/release2-by-object.txt" | sort | uniq -c >"$proof/release2-objects.txt"
  if grep -v -E 'libSDL_(ttf|image)\.a\(' "$proof/release2-objects.txt"; then
    fail "release 2 instructions outside Debian's prebuilt SDL_ttf and SDL_image (above)"
  fi
  echo "release 1 NOT reached: $count release 2 instructions, all in Debian's prebuilt mipsel"
  echo "SDL_ttf and SDL_image static libraries (no source of them could be had):"
  sed 's/^/  /' "$proof/release2-objects.txt"
fi
echo "ELF header: $(sed -n 's/^ *Flags: *//p' "$proof/header.txt")"
echo "file: $(sed 's/^[^:]*: //' "$proof/file.txt")"

# 3. Runs headless in a temporary tree; SIGTERM becomes SDL's quit event, so the program ends as
# after START+SELECT.
tree=$(mktemp -d /tmp/zorvel-proof.XXXXXX)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/music" "$tree/photos"
printf 'hello\n' >"$tree/notes.txt"
cp -r "$out/graphics" "$tree/graphics"
# Runs the program on core $1 (more qemu options after it) until the tree is listed or the program
# ends, then sends SIGTERM. Leaves its standard output in run-$1.txt, qemu's messages in
# run-$1-stderr.txt, qemu's log (the system calls, and what else the options ask) in
# run-$1-trace.txt, and the exit status in $status.
run_on() {
  cpu=$1
  shift
  (cd "$tree" && SDL_VIDEODRIVER=dummy exec qemu-mipsel-static -cpu "$cpu" -strace "$@" \
    -D "$proof/run-$cpu-trace.txt" "$program" -f "$font") >"$proof/run-$cpu.txt" \
    2>"$proof/run-$cpu-stderr.txt" </dev/null &
  pid=$!
  waited=0
  # Standard output is a file here, so its lines come at the end; the trace shows the listing.
  until grep -q getdents "$proof/run-$cpu-trace.txt" 2>/dev/null || ! kill -0 "$pid" 2>/dev/null; do
    sleep 1
    waited=$((waited + 1))
    [ "$waited" -lt 120 ] || {
      kill "$pid"
      fail "-cpu $cpu: the tree was not listed within 120 s"
    }
  done
  sleep 2
  kill -TERM "$pid" 2>/dev/null || true
  status=0
  wait "$pid" || status=$?
  echo "run under qemu-mipsel-static -cpu $cpu: status $status; standard output:"
  sed 's/^/  /' "$proof/run-$cpu.txt"
}
# The run ended as it should: its start-up lines, the tree listed, and status 0 after SIGTERM.
check_run() {
  cpu=$1
  # The trace keeps what shows the tree was listed; the frames' pauses are left out.
  grep -E "zorvel-proof|getdents" "$proof/run-$cpu-trace.txt" >"$proof/run-$cpu-listing.txt" || true
  rm -f "$proof/run-$cpu-trace.txt"
  [ "$status" -eq 0 ] || fail "-cpu $cpu: status $status after SIGTERM"
  grep -qx "font file: $font" "$proof/run-$cpu.txt" || fail "-cpu $cpu: no 'font file:' line"
  grep -q '^font height = [0-9]*$' "$proof/run-$cpu.txt" || fail "-cpu $cpu: no 'font height' line"
  grep -qx "path: $tree" "$proof/run-$cpu.txt" || fail "-cpu $cpu: no 'path: $tree' line"
  [ "$(tail -n 1 "$proof/run-$cpu.txt")" = "sync disc" ] ||
    fail "-cpu $cpu: the last line is not 'sync disc'"
  grep -q getdents "$proof/run-$cpu-listing.txt" || fail "-cpu $cpu: the tree was not listed"
  echo "listed the tree: $(grep -c getdents "$proof/run-$cpu-listing.txt") directory reads"
}

# On a release 1 core without a floating-point unit, as the console's: the 4Kc. qemu's user mode
# stops a program with SIGILL at the first instruction such a core lacks, so it is traced
# instruction by instruction to name that one.
run_on 4Kc -singlestep -d nochain,exec
if [ "$count" -eq 0 ]; then
  if [ "$status" -ne 0 ]; then
    grep '^Trace ' "$proof/run-4Kc-trace.txt" | tail -n 1 >"$proof/run-4Kc-stop.txt" || true
    fail "-cpu 4Kc: status $status (run-4Kc-stderr.txt; the last instruction in run-4Kc-stop.txt)"
  fi
  check_run 4Kc
  echo "console-proof: passed on a release 1 core (evidence in $proof)"
  exit 0
fi
# With Debian's prebuilt libraries, where it stops is kept as evidence; the trace's last line is
# the instruction the core refused: "Trace N: HOST [.../PC/...]".
stop=$(grep '^Trace ' "$proof/run-4Kc-trace.txt" | tail -n 1 | cut -d/ -f2)
rm -f "$proof/run-4Kc-trace.txt"
if [ "$status" -ne 0 ] && [ -n "$stop" ]; then
  instruction=$(mipsel-linux-gnu-objdump -d --no-show-raw-insn --start-address="0x$stop" \
    --stop-address=$((0x$stop + 4)) "$program" | awk '/^ *[0-9a-f]+:/ { $1 = ""; print; exit }')
  where=$(mipsel-linux-gnu-addr2line -f -e "$program" "0x$stop" | head -n 1)
  echo "$stop $where$instruction" >"$proof/run-4Kc-stop.txt"
  echo "-cpu 4Kc: status $status, stopped at 0x$stop in $where on$instruction" \
    "(release 1 NOT reached)"
fi
# The whole run, then, on a release 2 core with a floating-point unit, which the prebuilt
# libraries use.
run_on 24Kf
check_run 24Kf
echo "console-proof: passed on a release 2 core only (evidence in $proof)"

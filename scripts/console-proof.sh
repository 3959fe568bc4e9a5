#!/bin/sh
# Proves at the instruction level that build-console/zorvel.dge (made here by
# scripts/build-console.sh) can run on the console: no program interpreter and no needed
# libraries; no MIPS32 release 2 instruction anywhere in its code, or else exactly which object
# files hold them; and a run under qemu's user-mode emulation of a release 1 CPU (4Kc) on SDL's
# dummy video driver in a temporary tree, ended by SIGTERM. The evidence stays in
# build-console/proof/. Run as root on Debian 12 (the build installs what it needs).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$here/build-console
proof=$out/proof
program=$out/zorvel.dge
font=/usr/share/fonts/truetype/vlgothic/VL-Gothic-Regular.ttf

"$here/scripts/build-console.sh" >/dev/null
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

# 2. Release 2 instructions in the whole disassembly. rdhwr of register 29 reads the thread
# pointer, which the kernel emulates on release 1 CPUs; every other rdhwr counts.
mipsel-linux-gnu-objdump -d --no-show-raw-insn "$program" >"$proof/disassembly.txt"
awk '
  /^[0-9a-f]+ <.*>:$/ { function_name = $2 }
  $2 ~ /^(ext|ins|seb|seh|wsbh|rotr|rotrv|di|ei|rdhwr|synci|jalr\.hb|jr\.hb|ehb)$/ {
    if ($2 == "rdhwr" && $3 ~ /,\$29$/) next
    address = $1; sub(/:$/, "", address)
    print address, function_name, $2, $3
  }' "$proof/disassembly.txt" >"$proof/release2-instructions.txt"
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
if [ "$count" -eq 0 ]; then
  cpu=4Kc
  echo "release 1: no release 2 instruction in the whole disassembly"
else
  # Only Debian's prebuilt SDL_ttf and SDL_image (taken when their sources cannot be had) may
  # hold them: anything else is a fault of this build.
  awk '{print $1}' "$proof/release2-by-object.txt" | sort | uniq -c >"$proof/release2-objects.txt"
  if grep -v -E 'libSDL_(ttf|image)\.a\(' "$proof/release2-objects.txt"; then
    fail "release 2 instructions outside Debian's prebuilt SDL_ttf and SDL_image (above)"
  fi
  cpu=24Kf
  echo "release 1 NOT reached: $count release 2 instructions, all in Debian's prebuilt mipsel"
  echo "SDL_ttf and SDL_image static libraries (their source packages could not be fetched):"
  sed 's/^/  /' "$proof/release2-objects.txt"
fi
echo "ELF header: $(mipsel-linux-gnu-readelf -h "$program" | sed -n 's/^ *Flags: *//p')"

# 3. A run on an emulated CPU of that release, headless, in a temporary tree; SIGTERM becomes
# SDL's quit event, so the program ends as after START+SELECT.
tree=$(mktemp -d /tmp/zorvel-proof.XXXXXX)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/music" "$tree/photos"
printf 'hello\n' >"$tree/notes.txt"
cp -r "$out/graphics" "$tree/graphics"
cd "$tree"
SDL_VIDEODRIVER=dummy qemu-mipsel-static -cpu "$cpu" -strace "$program" -f "$font" \
  >"$proof/run-stdout.txt" 2>"$proof/run-trace.txt" &
pid=$!
waited=0
# Standard output is a file here, so its lines come at the end; the trace shows the listing.
until grep -q getdents "$proof/run-trace.txt" 2>/dev/null; do
  sleep 1
  waited=$((waited + 1))
  [ "$waited" -lt 60 ] || { kill "$pid"; fail "the tree was not listed within 60 s"; }
done
sleep 2
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
cd "$here"
echo "run under qemu-mipsel-static -cpu $cpu: status $status; standard output:"
sed 's/^/  /' "$proof/run-stdout.txt"
# The trace keeps what shows the tree was listed; the frames' pauses are left out.
grep -E "zorvel-proof|getdents" "$proof/run-trace.txt" >"$proof/run-listing.txt" || true
rm -f "$proof/run-trace.txt"
[ "$status" -eq 0 ] || fail "status $status after SIGTERM"
grep -qx "font file: $font" "$proof/run-stdout.txt" || fail "no 'font file:' line"
grep -q '^font height = [0-9]*$' "$proof/run-stdout.txt" || fail "no 'font height' line"
grep -qx "path: $tree" "$proof/run-stdout.txt" || fail "no 'path: $tree' line"
[ "$(tail -n 1 "$proof/run-stdout.txt")" = "sync disc" ] || fail "the last line is not 'sync disc'"
grep -q getdents "$proof/run-listing.txt" || fail "the tree was not listed"
echo "listed the tree: $(grep -c getdents "$proof/run-listing.txt") directory reads"
if [ "$cpu" != 4Kc ]; then
  # What those instructions do to a run on a release 1 core, kept as evidence.
  status=0
  sh -c 'cd "$1" && SDL_VIDEODRIVER=dummy timeout 60 qemu-mipsel-static -cpu 4Kc "$2" -f "$3"' \
    sh "$tree" "$program" "$font" >"$proof/run-4Kc.txt" 2>&1 </dev/null || status=$?
  echo "the same run under -cpu 4Kc: status $status ($(grep -o 'target signal [0-9]* ([^)]*)' \
    "$proof/run-4Kc.txt" | head -n 1))"
fi
echo "console-proof: passed (evidence in $proof)"

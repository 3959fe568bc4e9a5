#!/bin/sh
# Lists every MIPS32 release 2 instruction in the code of a mipsel program or object file, one
# line each: address, function, mnemonic, operands. Prints nothing for release 1 code.
#
#   scripts/console-release2-scan.sh FILE
#
# These are the instructions release 2 added that a release 1 CPU (the console's) does not
# decode: bit fields, byte swaps and sign extensions, rotations (which objdump writes ror and
# rorv), interrupt and hazard control, the shadow registers, and the floating-point unit's upper
# halves, indexed loads and stores, fused multiply-adds and 64-bit integer conversions. rdhwr of
# register 29 reads the thread pointer, which the kernel emulates on release 1 CPUs; every other
# rdhwr counts.
set -eu
[ $# -eq 1 ] || {
  echo "usage: scripts/console-release2-scan.sh FILE" >&2
  exit 2
}
mipsel-linux-gnu-objdump -d --no-show-raw-insn "$1" | awk '
  /^[0-9a-f]+ <.*>:$/ { function_name = $2 }
  $2 ~ /^(ext|ins|seb|seh|wsbh|ror|rorv|rotr|rotrv|di|ei|rdhwr|synci|jalr\.hb|jr\.hb|ehb|pause|rdpgpr|wrpgpr|mfhc[12]|mthc[12]|n?madd\.[sdp][s]?|n?msub\.[sdp][s]?|[lsu][wdu]xc1|prefx|cvt\.l\.[sd]|cvt\.[sd]\.l|(trunc|round|ceil|floor)\.l\.[sd]|recip\.[sd]|rsqrt\.[sd])$/ {
    if ($2 == "rdhwr" && $3 ~ /,\$29$/) next
    address = $1; sub(/:$/, "", address)
    print address, function_name, $2, $3
  }'

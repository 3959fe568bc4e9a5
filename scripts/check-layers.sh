#!/bin/sh
# Checks that the includes run one way. Between the folders: common/ stands on nothing of ours,
# input/ and keyboard/ on common/ only, dialogs/ on those three, app/fs/ (the file system work)
# on those four, tools/ on keyboard/ and common/; app/ uses them all, and nothing but the tests,
# fuzz targets and benchmarks includes app/ or app/fs/. Between units, on any floor (a unit is a header and the .cpp
# of the same stem; unit X uses unit Y when X.h or X.cpp includes Y.h): no loop. Prints every
# include that runs the wrong way and every loop; status 1 when there is one.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
status=0
check() {
  folder=$1
  allowed=$2
  for file in "$here/$folder"/*.h "$here/$folder"/*.cpp; do
    [ -e "$file" ] || continue
    grep -o '^#include "[a-z0-9_/]*/[a-z0-9_]*\.h"' "$file" | sed 's/^#include "//; s/\/[^/]*$//' |
      sort -u |
      while read -r used; do
        case " $allowed " in
          *" $used "*) ;;
          *) echo "$folder/$(basename "$file") includes $used/" ; exit 1 ;;
        esac
      done || status=1
  done
}
check common "common"
check input "common input"
check keyboard "common keyboard"
check dialogs "common input keyboard dialogs"
check app/fs "common input keyboard dialogs app/fs"
check tools "common keyboard tools"
check app "common input keyboard dialogs app/fs app"

# Every use of one unit by another, as "user used", then a depth-first walk that reports each
# loop it meets once.
uses() {
  for folder in common input keyboard dialogs app/fs app tools tests fuzz bench; do
    for file in "$here/$folder"/*.h "$here/$folder"/*.cpp; do
      [ -e "$file" ] || continue
      stem=$(basename "$file")
      unit=$folder/${stem%.*}
      grep -o '^#include "[a-z0-9_/]*/[a-z0-9_]*\.h"' "$file" | sed 's/^#include "//; s/\.h"$//' |
        while read -r used; do
          [ "$used" != "$unit" ] && [ -e "$here/$used.h" ] && echo "$unit $used"
        done
    done
  done
}
uses | sort -u | awk '
  { next_of[$1] = next_of[$1] " " $2; units[$1] = 1; units[$2] = 1 }
  function visit(unit, depth,   list, count, i, used, j, loop) {
    state[unit] = 1
    path[depth] = unit
    count = split(next_of[unit], list, " ")
    for (i = 1; i <= count; i++) {
      used = list[i]
      if (state[used] == 1) {
        loop = used
        for (j = depth; j >= 0 && path[j] != used; j--)
          loop = path[j] " -> " loop
        print "include loop: " used " -> " loop
        found = 1
      } else if (state[used] == 0) {
        visit(used, depth + 1)
      }
    }
    state[unit] = 2
  }
  END {
    for (unit in units)
      if (state[unit] == 0)
        visit(unit, 0)
    exit found
  }' || status=1
[ $status -eq 0 ] && echo "layers: every include runs one way, and no unit includes itself round a loop"
exit $status

#!/bin/sh
# Checks that the folders' includes run one way: common/ stands on nothing of ours, input/ and
# keyboard/ on common/ only, dialogs/ on those three, tools/ on keyboard/ and common/; app/ uses
# them all and nothing but the tests, fuzz targets and benchmarks includes app/. Prints every
# include that runs the wrong way; status 1 when there is one.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
status=0
check() {
  folder=$1
  allowed=$2
  for file in "$here/$folder"/*.h "$here/$folder"/*.cpp; do
    [ -e "$file" ] || continue
    grep -o '^#include "[a-z_]*/' "$file" | sed 's/^#include "//; s/\/$//' | sort -u |
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
check tools "common keyboard tools"
check app "common input keyboard dialogs app"
[ $status -eq 0 ] && echo "layers: every include runs one way"
exit $status

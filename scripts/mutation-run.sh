#!/bin/bash
# Plants the faults of a table (default tests/mutations.txt) one at a time into the program's
# sources, rebuilds the test program, runs the desktop suite, puts the source back, and prints
# which tests caught each fault, the share caught, and the faults no test catches.
#
#   scripts/mutation-run.sh [-n] [-t table] [-b build-folder] [-j jobs] [fault-id...]
#
# With -n, only checks that every row's text is found exactly once.
# A table row is: id, file, the exact text, its faulty replacement, what a user meets; separated
# by tabs, with \n and \t standing for a line feed and a tab in the two texts. Lines starting
# with # are notes. A row whose text is not in its file exactly once is STALE: fix the row.
# The source is always put back, also when the run is interrupted.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
table=$here/tests/mutations.txt
build=$here/build-mutation
jobs=2
check_only=false
while getopts t:b:j:n option; do
  case $option in
  n) check_only=true ;;
  t) table=$OPTARG ;;
  b) build=$(realpath -m "$OPTARG") ;;
  j) jobs=$OPTARG ;;
  *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
only=" $* "
per_test_timeout=20

planted=""
saved=$(mktemp)
restore() {
  if [ -n "$planted" ]; then
    cp "$saved" "$planted"
    planted=""
  fi
}
trap 'restore; rm -f "$saved"' EXIT
trap 'echo "interrupted: source restored" >&2; exit 130' INT TERM

# Replaces the one occurrence of the text in the file; prints how many there were, and changes
# nothing unless there was exactly one.
plant() {
  python3 - "$1" "$2" "$3" <<'PY'
import re, sys
path, find, into = sys.argv[1:4]
escapes = {"n": "\n", "t": "\t", "\\": "\\"}
unescape = lambda text: re.sub(r"\\(.)", lambda m: escapes.get(m.group(1), m.group(0)), text)
find, into = unescape(find), unescape(into)
try:
    source = open(path, encoding="utf-8", errors="surrogateescape").read()
except OSError:
    print("missing")
    sys.exit()
count = source.count(find)
print(count)
if count == 1:
    with open(path, "w", encoding="utf-8", errors="surrogateescape") as out:
        out.write(source.replace(find, into))
PY
}

if ! $check_only; then
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null || exit 1
  cmake --build "$build" -j"$jobs" >/dev/null || { echo "the unchanged tree does not build" >&2; exit 1; }
fi

total=0
killed=0
stale=0
unbuilt=0
survivors=""
log=$build/mutation-logs
mkdir -p "$log"
tab=$'\t'
while IFS= read -r row; do
  # Split by hand: read would merge the tabs around an empty replacement.
  id=${row%%"$tab"*} row=${row#*"$tab"}
  file=${row%%"$tab"*} row=${row#*"$tab"}
  find=${row%%"$tab"*} row=${row#*"$tab"}
  into=${row%%"$tab"*} what=${row#*"$tab"}
  case $id in '' | '#'*) continue ;; esac
  if [ "$only" != "  " ] && [ "${only#* $id }" = "$only" ]; then
    continue
  fi
  cp "$here/$file" "$saved" 2>/dev/null
  planted=$here/$file
  count=$(plant "$here/$file" "$find" "$into")
  if [ "$count" != 1 ]; then
    planted=""
    stale=$((stale + 1))
    printf 'STALE     %-24s %s: the text is found %s times\n' "$id" "$file" "$count"
    continue
  fi
  if $check_only; then
    restore
    continue
  fi
  if ! cmake --build "$build" -j"$jobs" --target zorvel_tests >"$log/$id.build" 2>&1; then
    restore
    unbuilt=$((unbuilt + 1))
    printf 'NO-BUILD  %-24s %s (see %s)\n' "$id" "$file" "$log/$id.build"
    continue
  fi
  # The tests make their trees in a folder of this run's own: a test that a fault made time out
  # leaves its tree behind, at times gigabytes, and only this run's are removed.
  trees=$(mktemp -d /tmp/zm-XXXXXX) && chmod 711 "$trees"
  (cd "$build" && TMPDIR=$trees SDL_VIDEODRIVER=dummy ctest -j"$jobs" \
    --timeout "$per_test_timeout" >"$log/$id.tests" 2>&1)
  restore
  rm -rf "$trees"
  total=$((total + 1))
  failed=$(sed -n '/The following tests FAILED:/,$p' "$log/$id.tests" |
    sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' | tr '\n' ' ')
  if [ -n "$failed" ]; then
    killed=$((killed + 1))
    printf 'KILLED    %-24s by %s\n' "$id" "$failed"
  else
    survivors="$survivors$id ($file): $what"$'\n'
    printf 'SURVIVED  %-24s %s: %s\n' "$id" "$file" "$what"
  fi
done <"$table"
# The object files of the last planted fault are rebuilt from the restored source next time.
$check_only || cmake --build "$build" -j"$jobs" --target zorvel_tests >/dev/null 2>&1

echo
if [ "$total" -gt 0 ]; then
  awk -v k="$killed" -v t="$total" 'BEGIN { printf "killed %d of %d planted faults: %.1f %%\n", k, t, 100 * k / t }'
fi
[ "$stale" -gt 0 ] && echo "$stale STALE rows: their text no longer matches the code exactly once"
[ "$unbuilt" -gt 0 ] && echo "$unbuilt rows do not build: fix their replacement"
if [ -n "$survivors" ]; then
  echo "no test catches:"
  printf '%s' "$survivors" | sed 's/^/  /'
fi
[ "$stale" -eq 0 ] && [ "$unbuilt" -eq 0 ]

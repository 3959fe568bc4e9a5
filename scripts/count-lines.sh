#!/bin/sh
# Counts the lines that are neither blank nor comments in the tests (tests/ and fuzz/: C++, headers
# and the Python key driver of the package checks; the fuzz seeds left out) and in the program
# with its build-time tools (every other C and C++ file outside bench/ and the build folders), and
# their ratio. Folders are searched whole, so files moved into new subfolders or new program
# folders are counted where they land.
# With -v, every file's count too.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
verbose=${1:-}

# Lines of code in C, C++ or Python files: blank lines, whole-line // or # comments and /* */
# blocks dropped.
code_lines() {
  awk '
    FNR == 1 { block = 0 }
    {
      line = $0
      if (block) {
        end = index(line, "*/")
        if (end == 0) next
        line = substr(line, end + 2)
        block = 0
      }
      while ((start = index(line, "/*")) > 0 && substr(line, 1, start - 1) !~ /"/) {
        rest = substr(line, start + 2)
        end = index(rest, "*/")
        if (end == 0) { line = substr(line, 1, start - 1); block = 1; break }
        line = substr(line, 1, start - 1) substr(rest, end + 2)
      }
      sub(/^[ \t]+/, "", line)
      if (line == "" || line ~ /^\/\// || (FILENAME ~ /\.py$/ && line ~ /^#/)) next
      count[FILENAME]++
      total++
    }
    END {
      if (ENVIRON["verbose"] == "-v")
        for (file in count) printf "%6d %s\n", count[file], file | "sort -k2"
      close("sort -k2")
      print total + 0
    }' "$@"
}


test_files=$(find tests fuzz -path fuzz/corpus -prune -o -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.py' \) -print | sort)
program_files=$(find . \( -path ./tests -o -path ./fuzz -o -path ./bench -o -path './build*' \
  -o -path ./dist -o -path ./.git \) -prune -o -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print | sed 's|^\./||' | sort)

export verbose
if [ "$verbose" = -v ]; then
  echo "tests:"
  # shellcheck disable=SC2086
  code_lines $test_files | sed '$d'
  echo "program and tools:"
  # shellcheck disable=SC2086
  code_lines $program_files | sed '$d'
fi
# shellcheck disable=SC2086
tests=$(verbose= code_lines $test_files)
# shellcheck disable=SC2086
program=$(verbose= code_lines $program_files)
awk -v t="$tests" -v p="$program" 'BEGIN {
  printf "tests %d lines, program and tools %d lines, ratio %.2f (a third: %d)\n", t, p, t / p, p / 3 }'

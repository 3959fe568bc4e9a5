# Sourced by the scripts that run sanitized programs. Every report ends its process with status 23
# (never 1, which the program's own fatal exits use). The address and leak sanitizers also write
# theirs to a file in the folder given to sanitizer_options, and the tests' harness keeps there
# the standard error of every forked child that ended with 23 (beside the address sanitizer, the
# undefined-behaviour sanitizer writes to standard error only): a report from a child, or from
# the program that a test started, fails the run even when no test looks at that status.

# Exports the options of the three sanitizers; reports go to files in the empty folder $1.
sanitizer_options() {
  rm -rf "$1"
  mkdir -p "$1"
  ASAN_OPTIONS="halt_on_error=1:exitcode=23:detect_leaks=1:strict_string_checks=1"
  # A smaller quarantine of freed memory keeps the many forks of the tests cheap.
  ASAN_OPTIONS="$ASAN_OPTIONS:check_initialization_order=1:quarantine_size_mb=64:log_path=$1/asan"
  UBSAN_OPTIONS="halt_on_error=1:exitcode=23:print_stacktrace=1"
  LSAN_OPTIONS="exitcode=23"
  ZORVEL_SANITIZER_LOGS=$1
  export ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS ZORVEL_SANITIZER_LOGS
}

# Prints every report in the folder $1; status 1 when there is one.
sanitizer_reports() {
  reports=$(find "$1" -type f | sort)
  [ -z "$reports" ] && return 0
  for report in $reports; do
    echo "=== $report"
    cat "$report"
  done
  echo "sanitizer reports: $(echo "$reports" | wc -l)" >&2
  return 1
}

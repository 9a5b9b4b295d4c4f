#!/usr/bin/env bash
# The sanitizer run. Builds q_lok with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, with the libFuzzer targets, in build-asan/ (or
# $QLOK_SANITIZE_BUILD_DIR), then:
#
#   scripts/sanitize.sh                        every test, then each fuzz
#                                              target for 60 seconds
#   scripts/sanitize.sh test [CTEST ARGS...]   the tests only
#   scripts/sanitize.sh fuzz [SECONDS [TARGET...]]
#                                              the fuzz targets only (all, or
#                                              those named), each SECONDS
#
# Any sanitizer report fails the run. The programs the tests start (the
# unit tests, q_lok-admin, and q_lok.cgi under lighttpd, which passes the
# settings on) write their reports into build-asan/sanitizer-reports/, so a
# report is seen even where it does not fail the test itself (a leak found
# when a CGI process ends, after its response); the folder must stay empty.
# A fuzz target that finds a fault saves the input under
# build-asan/fuzz-artifacts/TARGET/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QLOK_SANITIZE_BUILD_DIR:-$root/build-asan}
targets_all=(posted_text search_request map_link handle_request)

mode=${1:-all}
[ $# -gt 0 ] && shift
case $mode in
  all | test | fuzz) ;;
  *)
    echo "usage: $0 [test [CTEST ARGS...] | fuzz [SECONDS [TARGET...]]]" >&2
    exit 2
    ;;
esac

"$root/scripts/install-deps.sh" build test sanitize
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-g -O1" \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DQLOK_FUZZ=ON >/dev/null
ninja -C "$build"

# Reports with file names and lines.
for symbolizer in "$(command -v llvm-symbolizer || true)" \
  /usr/lib/llvm-*/bin/llvm-symbolizer; do
  if [ -x "$symbolizer" ]; then
    export ASAN_SYMBOLIZER_PATH=$symbolizer
    break
  fi
done

run_tests() {
  local reports=$build/sanitizer-reports status=0
  rm -rf "$reports"
  mkdir -p "$reports"
  # A report ends the process with exit code 1 (so a CGI process answers
  # with no page), and goes to a file of its own per process.
  (
    cd "$build"
    export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:check_initialization_order=1:detect_stack_use_after_return=1"
    export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"
    ctest --output-on-failure --timeout 900 -j "$(nproc)" "$@"
  ) || status=$?
  local written=("$reports"/*)
  if [ -e "${written[0]}" ]; then
    # The first few in full; one fault often reports from many processes.
    for report in "${written[@]:0:5}"; do
      echo "==== sanitizer report $report"
      cat "$report"
    done
    echo "${#written[@]} sanitizer reports in $reports: the run fails."
    status=1
  fi
  return "$status"
}

run_fuzzers() {
  local seconds=${1:-60} status=0 target
  [ $# -gt 0 ] && shift
  if [[ ! $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "fuzz: seconds must be a whole number above 0, not \"$seconds\"" >&2
    return 2
  fi
  local targets=("$@")
  [ ${#targets[@]} -gt 0 ] || targets=("${targets_all[@]}")
  for target in "${targets[@]}"; do
    local corpus=$build/fuzz-corpus/$target
    local artifacts=$build/fuzz-artifacts/$target/
    local log=$build/fuzz-logs/$target.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    # New inputs go to the build's own corpus; the repository's seeds are
    # only read.
    if "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 \
      -dict="$root/fuzz/dict/$target.dict" -artifact_prefix="$artifacts" \
      -print_final_stats=1 "$corpus" "$root/fuzz/corpus/$target" \
      >"$log" 2>&1; then
      local runs
      runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
      echo "fuzz $target: ${runs:-?} executions in $seconds s, no fault"
    else
      echo "fuzz $target: FAULT (log $log)"
      tail -n 80 "$log"
      echo "the input: $(ls -t "$artifacts" | head -n 1 | sed "s|^|$artifacts|")"
      echo "replay it: $build/fuzz/${target}_fuzzer INPUT"
      status=1
    fi
  done
  return "$status"
}

status=0
case $mode in
  all)
    SECONDS=0
    run_tests || status=1
    echo "sanitized tests: $SECONDS s"
    run_fuzzers 60 || status=1
    ;;
  test) run_tests "$@" || status=1 ;;
  fuzz) run_fuzzers "$@" || status=1 ;;
esac
exit "$status"

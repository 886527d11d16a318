#!/usr/bin/env bash
# Builds the fuzz targets (when needed) and runs each for a fixed number of
# executions from its seed corpus. Prints one line per target: name,
# executions, executions per second, crashes. Exits non-zero when any target
# found a crash, hang, leak or sanitizer report; the inputs are kept in
# <build dir>/artifacts/<target>/.
#
#   fuzz/run.sh [target...]
#
# Environment: FUZZ_BUILD_DIR (default /tmp/tallyro-fuzz), FUZZ_RUNS (default
# 1000000), FUZZ_JOBS (build jobs, default 2), CXX (default clang++-14).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${FUZZ_BUILD_DIR:-/tmp/tallyro-fuzz}
runs=${FUZZ_RUNS:-1000000}
jobs=${FUZZ_JOBS:-2}
all_targets=(fuzz_urldecode fuzz_escape_roundtrip fuzz_import fuzz_credentials fuzz_transaction_list
             fuzz_form_body fuzz_recovery fuzz_har_import)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=("${all_targets[@]}")
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER="${CXX:-clang++-14}" >/dev/null
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]}" >/dev/null

# Longest input per target: the import and the multipart body take whole files.
max_len() {
  case "$1" in
    fuzz_import | fuzz_form_body | fuzz_har_import) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

status=0
printf '%-24s %12s %10s %8s\n' target executions exec/s crashes
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/logs/$target.log"
  rm -rf "$work" "$artifacts"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  options=(-runs="$runs" -max_len="$(max_len "$target")" -timeout=10 -rss_limit_mb=2048
           -print_final_stats=1 -artifact_prefix="$artifacts/")
  if [ -f "$here/dict/$target.dict" ]; then
    options+=(-dict="$here/dict/$target.dict")
  fi
  # New inputs go to the work corpus; the seed corpus is only read.
  set +e
  "$build/$target" "${options[@]}" "$work" "$here/corpus/$target" >"$log" 2>&1
  code=$?
  set -e
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  crashes=$(find "$artifacts" -type f | wc -l)
  if [ "$code" -ne 0 ] && [ "$crashes" -eq 0 ]; then
    crashes=1 # ended abnormally without writing an input
  fi
  if [ "$crashes" -ne 0 ]; then
    status=1
  fi
  printf '%-24s %12s %10s %8s\n' "$target" "${executions:-0}" "${speed:-0}" "$crashes"
done
exit "$status"

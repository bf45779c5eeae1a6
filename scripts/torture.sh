#!/usr/bin/env bash
# The full allocation-failure sweep: every export of the torture test runs
# with each allocation call of its dry run failing in turn (k = 1, 2, ...),
# not only each site's first one. Uses the plain build in build/; the
# exports run in parallel, each printing its sites, calls and refusals.
#   scripts/torture.sh [gtest filter, default all exports]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DHBR_BUILD_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)" --target engine_torture_test
program=build/bin/engine_torture_test
export HBR_TORTURE_FULL=1 HBR_SLEEP_DIVISOR=1000
logs=build/torture-logs
mkdir -p "$logs"
run_one() {
  local log="$logs/${1//\//_}.log" rc=0
  "$program" --gtest_filter="$1" >"$log" 2>&1 || rc=$?
  grep -h ' sites, ' "$log" || true
  [[ $rc -eq 0 ]] || echo "FAILED $1 (see $log)"
  return "$rc"
}
export -f run_one
export program logs
"$program" --gtest_list_tests --gtest_filter="${1:-*}" |
  awk '/^[^ ]/ {suite=$1} /^  / {print suite $1}' |
  xargs -P "$(nproc)" -I{} bash -c 'run_one "$1"' _ {}

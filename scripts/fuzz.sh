#!/usr/bin/env bash
# A fuzzing campaign of one program of tests/fuzz:
#   scripts/fuzz.sh TARGET [seconds]     (TARGET as in corpus/<TARGET>; default 600 s)
# Builds the fuzz tree (build-fuzz/), fuzzes from the committed seeds and
# crashers with a scratch corpus in build-fuzz/campaign/TARGET, and copies
# every new crasher into tests/fuzz/regressions/TARGET for the replay.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: scripts/fuzz.sh TARGET [seconds]}
seconds=${2:-600}
[[ -d tests/fuzz/corpus/$target ]] || { echo "fuzz: no target $target" >&2; exit 2; }

bash scripts/setup.sh clang-14 libclang-rt-14-dev
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DHBR_FUZZ=ON -DHBR_BUILD_TESTS=OFF -DHBR_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "fuzz_$target"

work=build-fuzz/campaign/$target
mkdir -p "$work/corpus" "$work/crashes"
status=0
build-fuzz/bin/fuzz_"$target" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$work/crashes/" "$work/corpus" "tests/fuzz/corpus/$target" \
  "tests/fuzz/regressions/$target" || status=$?
for crash in "$work"/crashes/*; do
  [[ -f "$crash" ]] || continue
  cp "$crash" "tests/fuzz/regressions/$target/"
  echo "fuzz: new crasher tests/fuzz/regressions/$target/$(basename "$crash")"
done
exit "$status"

#!/usr/bin/env bash
# Builds everything (tests and benchmarks) and runs every test through CTest.
#   scripts/test.sh             plain build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build
opts=(-DHBR_BUILD_TESTS=ON -DHBR_BUILD_BENCH=ON)
if [[ "${1:-}" == "--sanitize" ]]; then
  build=build-asan
  opts+=(-DHBR_SANITIZE=ON -DHBR_WERROR=OFF -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
elif [[ -n "${HBR_WERROR:-}" ]]; then
  opts+=(-DHBR_WERROR="$HBR_WERROR")
fi

cmake -S . -B "$build" "${opts[@]}"
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)"

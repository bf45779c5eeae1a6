#!/usr/bin/env bash
# Builds everything (tests and benchmarks) and runs every test through CTest.
#   scripts/test.sh             plain build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
# The plain run also builds the fuzz programs (tests/fuzz) with clang 14 in
# build-fuzz/ and replays their committed corpora once, without mutation.
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

if [[ "$build" == build ]]; then
  cd ..
  bash scripts/setup.sh clang-14 libclang-rt-14-dev
  CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DHBR_FUZZ=ON -DHBR_BUILD_TESTS=OFF -DHBR_BUILD_BENCH=OFF
  cmake --build build-fuzz -j"$(nproc)" --target hbr_fuzz_targets
  ctest --test-dir build-fuzz -L fuzz --output-on-failure -j"$(nproc)"
fi

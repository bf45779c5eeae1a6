#!/usr/bin/env bash
# Builds the project and runs the engine core example: it writes lpa.log in
# out/demo (git-ignored) and the log is printed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake -S . -B build -DHBR_BUILD_TESTS=ON -DHBR_BUILD_BENCH=ON
cmake --build build -j"$(nproc)"

out=out/demo
mkdir -p "$out"
rm -f "$out/lpa.log" "$out/lpa.backup.log"
status=0
build/bin/lpa_core_example "$out" || status=$?

echo "---- $out/lpa.log"
cat "$out/lpa.log"
exit "$status"

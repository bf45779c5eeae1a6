#!/usr/bin/env bash
# Builds the project and runs the two engine examples in out/demo
# (git-ignored):
#   1. the core example: engine log and tracked memory; its lpa.log is
#      printed afterwards;
#   2. the download example: a profile download through liblpa.so from the
#      local test SM-DP+ (started here on a free port of 127.0.0.1 and
#      stopped on exit) into the simulated module's eUICC; the tail of its
#      lpa.log is printed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake -S . -B build -DHBR_BUILD_TESTS=ON -DHBR_BUILD_BENCH=ON
cmake --build build -j"$(nproc)"

out=out/demo
mkdir -p "$out"

echo
echo "==== 1. Engine core example: log and tracked memory"
rm -f "$out/lpa.log" "$out/lpa.backup.log"
status=0
build/bin/lpa_core_example "$out" || status=$?
echo "---- $out/lpa.log"
cat "$out/lpa.log"
if [[ $status -ne 0 ]]; then
  exit "$status"
fi

echo
echo "==== 2. Profile download from the test SM-DP+ into the simulated eUICC"
pki=$out/pki
bash tools/https_test_server/make_test_pki.sh "$pki"
echo "throw-away PKI in $pki"

source tools/https_test_server/background_server.sh
hbr_server_stop_on_exit
hbr_server_start "$out/smdp" "$pki" --role smdp
port=$HBR_SERVER_PORT
echo "test SM-DP+ listening on 127.0.0.1:$port (pid $HBR_SERVER_PID)"

# HBR-TEST-1 is the matchingId of the server's default profile.
code="1\$localhost:$port\$HBR-TEST-1"
rm -f "$out/lpa.log" "$out/lpa.backup.log"
status=0
build/bin/lpa_download_example "$out" "$code" "$pki/ca.crt" || status=$?
hbr_server_stop

echo "---- last 40 lines of $out/lpa.log"
tail -n 40 "$out/lpa.log"
echo "---- full engine log: $out/lpa.log; SM-DP+ requests: $out/smdp/server-records"
exit "$status"

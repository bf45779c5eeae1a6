#!/usr/bin/env bash
# Runs the download example (LPA_SDK/examples) against a fresh test SM-DP+
# on a free port, as the demo does.
# Usage: download_example_test.sh <example program> <work folder> <PKI folder>
set -euo pipefail
example=$1 work=$2 pki=$3

source "$(dirname "$0")/../../tools/https_test_server/background_server.sh"
hbr_server_stop_on_exit
rm -rf "$work"
mkdir -p "$work"
hbr_server_start "$work/smdp" "$pki" --role smdp
"$example" "$work" "1\$localhost:$HBR_SERVER_PORT\$HBR-TEST-1" "$pki/ca.crt" | tee "$work/example.out"
grep -q "Test Profile 1 *disabled *operational" "$work/example.out"
# The installation result reached the SM-DP+.
grep -q '"result": "success"' "$work/smdp/server-records/notifications.jsonl"

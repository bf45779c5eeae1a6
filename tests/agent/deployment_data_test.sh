#!/usr/bin/env bash
# The build's check of a deployment folder: a good folder passes; each
# fault stops it with a message that names the file or key, never a value.
# Usage: deployment_data_test.sh CMAKE SCRIPT HEADER OPENSSL GOOD_FOLDER
set -euo pipefail
cmake=$1 script=$2 header=$3 openssl=$4 good=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

check() { # name expected-text [value that must not appear]
  local out
  if out=$("$cmake" -DDEPLOYMENT_DIR="$work/d" -DHEADER="$header" -DOUT="$work/out.cpp" \
      -DOPENSSL="$openssl" -P "$script" 2>&1); then
    [[ -z "$2" ]] && return 0
    echo "FAIL $1: accepted"; failures=$((failures + 1)); return 0
  fi
  out=$(tr -s ' \n' '  ' <<<"$out") # cmake wraps its messages
  if [[ -z "$2" || "$out" != *"$2"* || ( -n "${3:-}" && "$out" == *"$3"* ) ]]; then
    echo "FAIL $1:"; echo "$out"; failures=$((failures + 1))
  fi
}
fresh() { rm -rf "$work/d"; cp -r "$good" "$work/d"; }
setkey() { sed -i "s|^$1=.*|$1=$2|" "$work/d/deployment.conf"; }

fresh; check good ""
grep -q "kDeploymentClientKey" "$work/out.cpp" || { echo "FAIL good: no key in the output"; failures=$((failures + 1)); }
fresh; rm "$work/d/cloud_ca.pem"; check missing-file "cloud_ca.pem is missing"
fresh; echo "not a certificate" > "$work/d/bootstrap_ca.pem"; check bad-pem "bootstrap_ca.pem is not a PEM"
fresh; "$openssl" genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/d/client_key.pem" 2>/dev/null
check key-mismatch "client_key.pem does not match client_cert.pem"
fresh; sed -i '/^RAND_SEED=/d' "$work/d/deployment.conf"; check missing-key "deployment.conf lacks RAND_SEED"
fresh; setkey SALT_TEMPLATE 'Ab%sCd%dEf'; check salt "SALT_TEMPLATE must be" 'Ab%sCd%dEf'
fresh; setkey SALT_TEMPLATE 'short%s'; check salt-length "SALT_TEMPLATE must be" 'short%s'
fresh; setkey RAND_SEED 'ab cde'; check seed "RAND_SEED must be" 'ab cde'
fresh; setkey FALLBACK_NONCE '0011'; check nonce "FALLBACK_NONCE must be" '0011'
fresh; setkey NTP_PORT 65536; check port "NTP_PORT must be"
fresh; setkey BOOTSTRAP_URL 'http://example/bootstrap/v2'; check url "BOOTSTRAP_URL must be" 'http://example'
fresh; sed -i '/^NTP_PORT=/d' "$work/d/deployment.conf"; check default-port ""
grep -q "return 123;" "$work/out.cpp" || { echo "FAIL default-port: not 123"; failures=$((failures + 1)); }
exit $((failures > 0))

#!/usr/bin/env bash
# Makes a throw-away PKI for the HTTPS tests (EC P-256, openssl command):
#   ca.crt/ca.key              test CA
#   server.crt/server.key      IP:127.0.0.1 + DNS:localhost, signed by ca
#   ca2.crt/ca2.key            a second, unrelated CA
#   server2.crt/server2.key    the same names, signed by ca2
#   wrongname.crt/wrongname.key DNS:wrong-name.invalid only, signed by ca
#   longname.crt/longname.key  long host names under localhost (see below)
#   rsp.der                    DER certificate (at most 1,533 bytes) that the
#                              test SM-DP+/SM-DS answers as serverCertificate
#                              and smdpCertificate: subjectAltName
#                              registeredID 2.999.10.1, signed by ca
# Usage: make_test_pki.sh OUTDIR
# Idempotent: a complete OUTDIR is left as it is. Nothing here is secret or
# kept: the folder lives in the build tree.
set -euo pipefail

out=${1:?usage: make_test_pki.sh OUTDIR}

# --- Long host names under localhost -------------------------------------
#   longname.crt/longname.key  IP:127.0.0.1, DNS:localhost and the host names
#                              "<'p' labels of at most 63>.localhost" that
#                              make "<host>:<port>" 128 or 205 characters
#                              long with a 4- or 5-digit port, signed by ca
# Made in place, once the rest of the folder exists.
if [[ -z "${HBR_PKI_BASE_ONLY:-}" ]]; then
  HBR_PKI_BASE_ONLY=1 bash "$0" "$out"
  exec 9>"$out/.longname.lock"
  flock 9 # one maker at a time, so key and certificate stay a pair
  if [[ ! -f "$out/longname.crt" ]]; then
    names="IP:127.0.0.1,DNS:localhost"
    for total in 128 205; do
      for digits in 4 5; do
        n=$((total - 11 - digits)) host=""
        for ((i = 0; i < n / 64; i++)); do host+="$(printf 'p%.0s' {1..63})."; done
        for ((i = 0; i < n % 64; i++)); do host+="p"; done
        names+=",DNS:$host.localhost"
      done
    done
    long=$(mktemp -d "$out/.longname.XXXXXX")
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$long/longname.key" \
      -out "$long/longname.csr" -subj "/CN=longname" 2>/dev/null
    printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
      "extendedKeyUsage=serverAuth" "subjectAltName=$names" > "$long/longname.ext"
    openssl x509 -req -in "$long/longname.csr" -CA "$out/ca.crt" -CAkey "$out/ca.key" -CAcreateserial \
      -CAserial "$long/ca.srl" -days 3650 -extfile "$long/longname.ext" -out "$long/longname.crt" 2>/dev/null
    mv -f "$long/longname.key" "$out/longname.key"
    mv -f "$long/longname.crt" "$out/longname.crt" # last: marks the pair complete
    rm -rf "$long"
  fi
  exit 0
fi
# -------------------------------------------------------------------------
if [[ -f "$out/.complete" && -f "$out/rsp.der" ]]; then
  exit 0
fi

parent=$(dirname "$out")
mkdir -p "$parent"
work=$(mktemp -d "$parent/.pki.XXXXXX")
trap 'rm -rf "$work"' EXIT

days=3650
newkey=(-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes)

make_ca() { # name CN
  openssl req -x509 "${newkey[@]}" -keyout "$work/$1.key" -out "$work/$1.crt" \
    -days "$days" -subj "/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

make_leaf() { # name ca subjectAltName
  openssl req -new "${newkey[@]}" -keyout "$work/$1.key" -out "$work/$1.csr" \
    -subj "/CN=$1" 2>/dev/null
  cat > "$work/$1.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=serverAuth
subjectAltName=$3
EXT
  openssl x509 -req -in "$work/$1.csr" -CA "$work/$2.crt" -CAkey "$work/$2.key" \
    -CAcreateserial -days "$days" -extfile "$work/$1.ext" -out "$work/$1.crt" 2>/dev/null
  rm -f "$work/$1.csr" "$work/$1.ext"
}

make_ca ca "Hollowbright Test CA"
make_ca ca2 "Unrelated Test CA"
make_leaf server ca "IP:127.0.0.1,DNS:localhost"
make_leaf server2 ca2 "IP:127.0.0.1,DNS:localhost"
make_leaf wrongname ca "DNS:wrong-name.invalid"
make_rsp() { # folder holding ca.crt/ca.key
  make_leaf rsp "$1" "RID:2.999.10.1,DNS:localhost"
  openssl x509 -in "$work/rsp.crt" -outform DER -out "$work/rsp.der"
  rm -f "$work/rsp.crt" "$work/rsp.key"
  [[ $(stat -c %s "$work/rsp.der") -le 1533 ]] || { echo "make_test_pki: rsp.der too long" >&2; exit 1; }
}
if [[ -f "$out/.complete" ]]; then
  # A folder made before rsp.der existed: add it in place.
  cp "$out/ca.crt" "$out/ca.key" "$work/"
  make_rsp ca
  rm -f "$work"/*.srl
  mv -f "$work/rsp.der" "$out/rsp.der"
  exit 0
fi
make_rsp ca
rm -f "$work"/*.srl
touch "$work/.complete"

# Another process may have finished first; keep whichever folder won.
if ! mv -T "$work" "$out" 2>/dev/null; then
  [[ -f "$out/.complete" ]] || { echo "make_test_pki: cannot create $out" >&2; exit 1; }
fi
trap - EXIT
rm -rf "$work"

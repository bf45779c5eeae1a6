#!/usr/bin/env bash
# Makes a throw-away PKI for the HTTPS tests (EC P-256, openssl command):
#   ca.crt/ca.key              test CA
#   server.crt/server.key      IP:127.0.0.1 + DNS:localhost, signed by ca
#   ca2.crt/ca2.key            a second, unrelated CA
#   server2.crt/server2.key    the same names, signed by ca2
#   wrongname.crt/wrongname.key DNS:wrong-name.invalid only, signed by ca
#   expired.crt/expired.key    IP:127.0.0.1 + DNS:localhost, signed by ca,
#                              valid only during 2020
#   longname.crt/longname.key  long host names under localhost (see below)
#   rsp.der                    DER certificate (at most 1,533 bytes) that the
#                              test SM-DP+/SM-DS answers as serverCertificate
#                              and smdpCertificate: subjectAltName
#                              registeredID 2.999.10.1, signed by ca
#   ci.der, eum.der, euicc.der the simulated eUICC's chain (DER X.509v3, keys
#                              in ci.key, eum.key, euicc.key): a test CI with
#                              a subject key identifier, an EUM signed by the
#                              CI, an eUICC signed by the EUM whose subject
#                              serialNumber is the simulator's default EID
# Usage: make_test_pki.sh OUTDIR
# Idempotent: a complete OUTDIR is left as it is. Nothing here is secret or
# kept: the folder lives in the build tree.
set -euo pipefail

# A leaf for IP:127.0.0.1 and localhost, valid only during 2020, signed with
# `openssl ca` (x509 -req cannot back-date notBefore).
make_expired_leaf() { # ca-cert ca-key out-prefix newkey-options...
  local cacrt=$1 cakey=$2 prefix=$3 db
  shift 3
  db=$(mktemp -d "$(dirname "$prefix")/.ca.XXXXXX")
  : > "$db/index.txt"
  cat > "$db/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $db/index.txt
new_certs_dir = $db
certificate = $cacrt
private_key = $cakey
default_md = sha256
policy = any
rand_serial = yes
[any]
commonName = supplied
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
CNF
  openssl req -new "$@" -keyout "$prefix.key" -out "$db/leaf.csr" -subj "/CN=localhost" 2>/dev/null
  openssl ca -batch -config "$db/ca.cnf" -extensions leaf -startdate 20200101000000Z -enddate 20210101000000Z \
    -notext -in "$db/leaf.csr" -out "$prefix.crt" 2>/dev/null
  rm -rf "$db"
}

# --- Deployment mode ---------------------------------------------------------
# make_test_pki.sh --deployment DATADIR SERVERDIR
# Makes throw-away deployment data for the agent's cloud client (RSA 2048),
# replacing what the folders held:
#   DATADIR:   bootstrap_ca.pem, cloud_ca.pem, client_cert.pem, client_key.pem
#              (client CA, EKU clientAuth), smdp_root_ci.pem (a test root CI,
#              EC P-256, CR LF line ends and none after the last line) and
#              deployment.conf (bootstrap URL
#              on a port where nothing listens, NTP 127.0.0.1:123, random
#              salt template, seed and fallback nonce)
#   SERVERDIR: bootstrap_server.crt/.key (bootstrap CA), cloud_server.crt/.key
#              (cloud CA), both IP:127.0.0.1 + DNS:localhost, EKU serverAuth;
#              client_ca.pem; unrelated_ca.pem (a CA that signed nothing here);
#              smdp_server.crt/.key (the SM-DP+ TLS certificate, EC P-256,
#              signed by the test root CI, IP:127.0.0.1 + DNS:localhost, EKU
#              serverAuth);
#              bootstrap_expired.crt/.key (bootstrap CA, valid only during
#              2020) and bootstrap_wrongname.crt/.key (bootstrap CA,
#              DNS:wrong-name.invalid only)
make_deployment() { # datadir serverdir
  local data=$1 servers=$2 tmp
  mkdir -p "$(dirname "$data")" "$(dirname "$servers")"
  tmp=$(mktemp -d "$(dirname "$data")/.deployment.XXXXXX")
  trap 'rm -rf "$tmp"' EXIT
  local rsa=(-newkey rsa:2048 -nodes)
  dca() { # name CN
    openssl req -x509 "${rsa[@]}" -keyout "$tmp/$1.key" -out "$tmp/$1.pem" -days 3650 -subj "/CN=$2" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  }
  dleaf() { # name ca CN eku [san]
    openssl req -new "${rsa[@]}" -keyout "$tmp/$1.key" -out "$tmp/$1.csr" -subj "/CN=$3" 2>/dev/null
    { echo "basicConstraints=critical,CA:FALSE"; echo "keyUsage=critical,digitalSignature,keyEncipherment"
      echo "extendedKeyUsage=$4"; [[ -z "${5:-}" ]] || echo "subjectAltName=$5"; } > "$tmp/$1.ext"
    openssl x509 -req -in "$tmp/$1.csr" -CA "$tmp/$2.pem" -CAkey "$tmp/$2.key" -CAcreateserial -days 3650 \
      -extfile "$tmp/$1.ext" -out "$tmp/$1.crt" 2>/dev/null
  }
  alnum() { # length
    local s
    s=$(openssl rand -base64 120 | tr -dc 'A-Za-z0-9')
    echo "${s:0:$1}"
  }
  dca bootstrap_ca "Hollowbright Test Bootstrap CA"
  dca cloud_ca "Hollowbright Test Cloud CA"
  dca client_ca "Hollowbright Test Client CA"
  dca unrelated_ca "Unrelated Test CA"
  dleaf client client_ca "hbr-test-device" clientAuth
  dleaf bootstrap_server bootstrap_ca "localhost" serverAuth "IP:127.0.0.1,DNS:localhost"
  dleaf cloud_server cloud_ca "localhost" serverAuth "IP:127.0.0.1,DNS:localhost"
  dleaf bootstrap_wrongname bootstrap_ca "wrong-name.invalid" serverAuth "DNS:wrong-name.invalid"
  make_expired_leaf "$tmp/bootstrap_ca.pem" "$tmp/bootstrap_ca.key" "$tmp/bootstrap_expired" "${rsa[@]}"
  # The SM-DP+ side: a test root CI and the TLS certificate it signed.
  local ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  openssl req -x509 "${ec[@]}" -keyout "$tmp/smdp_ci.key" -out "$tmp/smdp_ci.pem" -days 3650 \
    -subj "/CN=Hollowbright Test Root CI" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -new "${ec[@]}" -keyout "$tmp/smdp_server.key" -out "$tmp/smdp_server.csr" -subj "/CN=localhost" 2>/dev/null
  printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=serverAuth" "subjectAltName=IP:127.0.0.1,DNS:localhost" > "$tmp/smdp_server.ext"
  openssl x509 -req -in "$tmp/smdp_server.csr" -CA "$tmp/smdp_ci.pem" -CAkey "$tmp/smdp_ci.key" -CAcreateserial \
    -days 3650 -extfile "$tmp/smdp_server.ext" -out "$tmp/smdp_server.crt" 2>/dev/null
  mkdir -p "$tmp/data" "$tmp/servers"
  cp "$tmp/bootstrap_ca.pem" "$tmp/cloud_ca.pem" "$tmp/data/"
  # CR LF line ends, none after "-----END CERTIFICATE-----".
  sed 's/$/\r/' "$tmp/smdp_ci.pem" | head -c -2 > "$tmp/data/smdp_root_ci.pem"
  cp "$tmp/client.crt" "$tmp/data/client_cert.pem"
  cp "$tmp/client.key" "$tmp/data/client_key.pem"
  local salt
  salt="$(alnum 4)%s$(alnum 4)"
  cat > "$tmp/data/deployment.conf" <<CONF
BOOTSTRAP_URL=https://127.0.0.1:1/bootstrap/v2
NTP_HOST=127.0.0.1
NTP_PORT=123
SALT_TEMPLATE=$salt
RAND_SEED=$(alnum 6)
FALLBACK_NONCE=$(openssl rand -hex 16)
CONF
  for n in bootstrap_server cloud_server smdp_server bootstrap_wrongname bootstrap_expired; do cp "$tmp/$n.crt" "$tmp/$n.key" "$tmp/servers/"; done
  cp "$tmp/client_ca.pem" "$tmp/unrelated_ca.pem" "$tmp/servers/"
  touch "$tmp/data/.complete"
  rm -rf "$data" "$servers"
  mv -T "$tmp/servers" "$servers"
  mv -T "$tmp/data" "$data"
  rm -rf "$tmp"
  trap - EXIT
}
if [[ "${1:-}" == "--deployment" ]]; then
  make_deployment "${2:?usage: make_test_pki.sh --deployment DATADIR SERVERDIR}" \
    "${3:?usage: make_test_pki.sh --deployment DATADIR SERVERDIR}"
  exit 0
fi
# --- end of deployment mode --------------------------------------------------

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
if [[ -f "$out/.complete" && -f "$out/rsp.der" && -f "$out/euicc.der" && -f "$out/expired.crt" ]]; then
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
if [[ -f "$out/.complete" && ! -f "$out/expired.crt" ]]; then
  # A folder made before expired.crt existed: add it in place.
  make_expired_leaf "$out/ca.crt" "$out/ca.key" "$work/expired" "${newkey[@]}"
  mv -f "$work/expired.key" "$out/expired.key"
  mv -f "$work/expired.crt" "$out/expired.crt"
  [[ ! -f "$out/rsp.der" || ! -f "$out/euicc.der" ]] || exit 0
else
  make_expired_leaf "$work/ca.crt" "$work/ca.key" "$work/expired" "${newkey[@]}"
fi
make_rsp() { # folder holding ca.crt/ca.key
  make_leaf rsp "$1" "RID:2.999.10.1,DNS:localhost"
  openssl x509 -in "$work/rsp.crt" -outform DER -out "$work/rsp.der"
  rm -f "$work/rsp.crt" "$work/rsp.key"
  [[ $(stat -c %s "$work/rsp.der") -le 1533 ]] || { echo "make_test_pki: rsp.der too long" >&2; exit 1; }
}
# --- The simulated eUICC's chain: CI -> EUM -> eUICC ------------------------
euicc_eid=89049032123451234512345678901235
chain_cert() { # folder name issuer subject extensions
  openssl req -new "${newkey[@]}" -keyout "$1/$2.key" -out "$1/$2.csr" -subj "$4" 2>/dev/null
  printf '%s\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n' "$5" > "$1/$2.ext"
  openssl x509 -req -in "$1/$2.csr" -CA "$1/$3.pem" -CAkey "$1/$3.key" -CAcreateserial \
    -days "$days" -extfile "$1/$2.ext" -out "$1/$2.pem" 2>/dev/null
  rm -f "$1/$2.csr" "$1/$2.ext"
}
make_euicc_chain() { # folder
  openssl req -x509 "${newkey[@]}" -keyout "$1/ci.key" -out "$1/ci.pem" -days "$days" \
    -subj "/O=Hollowbright Test/CN=Hollowbright Test CI" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" -addext "certificatePolicies=2.23.146.1.2.1.0" 2>/dev/null
  chain_cert "$1" eum ci "/O=Hollowbright Test EUM/CN=Hollowbright Test EUM" \
    $'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\ncertificatePolicies=2.23.146.1.2.1.2'
  chain_cert "$1" euicc eum "/O=Hollowbright Test EUM/serialNumber=$euicc_eid/CN=Hollowbright Test eUICC" \
    $'keyUsage=critical,digitalSignature\ncertificatePolicies=2.23.146.1.2.1.1'
  for name in ci eum euicc; do
    openssl x509 -in "$1/$name.pem" -outform DER -out "$1/$name.der"
    rm -f "$1/$name.pem"
  done
  rm -f "$1"/*.srl
}
if [[ -f "$out/.complete" && ! -f "$out/euicc.der" ]]; then
  # A folder made before the chain existed: add it in place.
  make_euicc_chain "$work"
  mv -f "$work"/ci.* "$work"/eum.* "$work"/euicc.* "$out"/
fi
# ----------------------------------------------------------------------------

if [[ -f "$out/.complete" ]]; then
  # A folder made before rsp.der existed: add it in place.
  cp "$out/ca.crt" "$out/ca.key" "$work/"
  make_rsp ca
  rm -f "$work"/*.srl
  mv -f "$work/rsp.der" "$out/rsp.der"
  exit 0
fi
make_rsp ca
make_euicc_chain "$work"
rm -f "$work"/*.srl
touch "$work/.complete"

# Another process may have finished first; keep whichever folder won.
if ! mv -T "$work" "$out" 2>/dev/null; then
  [[ -f "$out/.complete" ]] || { echo "make_test_pki: cannot create $out" >&2; exit 1; }
fi
trap - EXIT
rm -rf "$work"

#!/usr/bin/env bash
# Installs what the project needs to build and test, on Debian 12.
# Idempotent: when every package is present it makes no network call.
# Extra package names on the command line are checked and installed too
# (scripts/test.sh and scripts/fuzz.sh pass the fuzz build's compilers).
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config
  libcurl4-openssl-dev libssl-dev libcjson-dev
  libgtest-dev googletest libbenchmark-dev
  python3 openssl binutils
  "$@"
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  if [[ "$status" != "install ok installed" ]]; then
    missing+=("$pkg")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=()
if [[ $(id -u) -ne 0 ]]; then
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"

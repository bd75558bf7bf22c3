#!/usr/bin/env bash
# Makes sure the Debian packages the project builds and tests with are present.
# As root it installs the missing ones; otherwise it names them and stops.
set -euo pipefail
pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev
      libbenchmark-dev libsqlite3-dev libgcab-dev gcab cabextract libisal-dev iproute2 iptables pkg-config)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "missing Debian packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

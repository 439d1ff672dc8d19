#!/usr/bin/env bash
# Installs every build and test dependency from Debian 12 packages.
# Idempotent: packages already present are left alone.
set -euo pipefail
PKGS=(
  build-essential cmake pkg-config git ca-certificates
  clang clang-format libclang-rt-14-dev
  libjsoncpp-dev libboost-dev libcurl4-openssl-dev libssl-dev openssl
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  libcpp-httplib-dev
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "dependencies: all present"

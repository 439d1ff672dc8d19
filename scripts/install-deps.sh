#!/usr/bin/env bash
# Installs every build and test dependency from Debian 12 packages.
#   scripts/install-deps.sh            the native (64-bit) build
#   scripts/install-deps.sh --i386     also the 32-bit build: gcc/g++ multilib and the
#                                      libraries as Debian multiarch :i386 packages (docs/i386.md)
# Idempotent: packages already present are left alone.
set -euo pipefail
PKGS=(
  build-essential cmake pkg-config git ca-certificates
  clang clang-format libclang-rt-14-dev
  libjsoncpp-dev libboost-dev libcurl4-openssl-dev libssl-dev openssl
  libsqlite3-dev sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  libcpp-httplib-dev
  libengine-gost-openssl
)
# The GOST engine of OpenSSL (/usr/lib/<multiarch>/engines-3/gost.so) is not "Multi-Arch: same":
# its :i386 package conflicts with the amd64 one, so the 32-bit build runs without it and its
# GOST tests skip (docs/i386.md).
# The 32-bit build: every one of these -dev packages is "Multi-Arch: same", so it installs
# beside its amd64 twin (headers identical, libraries and CMake/pkg-config files under
# /usr/lib/i386-linux-gnu).
PKGS_I386=(
  gcc-multilib g++-multilib
  libjsoncpp-dev:i386 libboost-dev:i386 libcurl4-openssl-dev:i386 libssl-dev:i386
  libsqlite3-dev:i386
  libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386
  libcpp-httplib-dev:i386
)

i386=0
case "${1:-}" in
  --i386) i386=1 ;;
  "") ;;
  *) echo "usage: $0 [--i386]" >&2; exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

updated=0
update() {
  [ $updated -eq 1 ] && return 0
  updated=1
  # A mirror in mid-sync can fail one index (seen: the security suite's i386 list); apt then
  # keeps the lists it did fetch, and the versions below are chosen from what is there.
  $SUDO apt-get update -qq || echo "install-deps: some package lists could not be fetched; going on with the others" >&2
}

missing=()
for p in "${PKGS[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  update
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Prints NAME:amd64=V NAME:i386=V for each "Multi-Arch: same" package that the :i386 packages
# in "$@" pull in and whose amd64 twin is installed at, or would be upgraded to, a version the
# i386 lists do not offer: the two must be the same version, and apt keeps the pair in step
# with the amd64 candidate. V is the highest version offered for both.
same_version_pins() {
  local names
  mapfile -t names < <(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
      --no-breaks --no-replaces --no-enhances "$@" 2>/dev/null | sed -n 's/^\([^ <][^ ]*\):i386$/\1/p' | sort -u)
  [ ${#names[@]} -gt 0 ] || return 0
  {
    dpkg-query -W -f='have ${Package} ${Version} ${Multi-Arch}\n' "${names[@]/%/:amd64}" 2>/dev/null || true
    apt-cache policy "${names[@]}" "${names[@]/%/:i386}" 2>/dev/null \
      | awk '/^[^ ]/ {sub(/:$/, ""); n = $0} /^ *Candidate:/ {print "cand", n, $2}'
    apt-cache madison "${names[@]}" "${names[@]/%/:i386}" 2>/dev/null \
      | awk -F'|' '$3 ~ / Packages/ {gsub(/ /, "", $1); gsub(/ /, "", $2); print "offer", $1, $2}'
  } | awk '
    $1 == "have" && $4 == "same" { have[$2] = $3 }
    $1 == "cand" { cand[$2] = $3 }
    $1 == "offer" { if ($2 ~ /:i386$/) { sub(/:i386$/, "", $2); i386[$2 SUBSEP $3] = 1 }
                    else if (!($2 SUBSEP $3 in amd)) { amd[$2 SUBSEP $3] = 1; order[$2] = order[$2] " " $3 } }
    END {
      for (n in have) {
        c = cand[n ":i386"]
        if (c == "" || c == "(none)" || (c == have[n] && c == cand[n])) continue
        k = split(order[n], v, " ")
        for (i = 1; i <= k; i++) if ((n SUBSEP v[i]) in i386) { print n ":amd64=" v[i]; print n ":i386=" v[i]; break }
      }
    }'
}

if [ $i386 -eq 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=0
  fi
  missing=()
  for p in "${PKGS_I386[@]}"; do installed "$p" || missing+=("$p"); done
  if [ ${#missing[@]} -gt 0 ]; then
    update
    mapfile -t pins < <(same_version_pins $(printf '%s\n' "${missing[@]}" | grep ':i386$'))
    [ ${#pins[@]} -gt 0 ] && echo "install-deps: amd64 and i386 at one version: ${pins[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends --no-remove --allow-downgrades \
      "${pins[@]}" "${missing[@]}"
  fi
fi
echo "dependencies: all present"

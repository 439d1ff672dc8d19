#!/usr/bin/env bash
# The walk-through of the main job, done with the command-line tool as a person
# would do it: starts the local signature service on a free loopback port, adds
# its services through discovery, signs in through the browser application,
# lists the certificates on the service, installs one into the store with its
# link, signs a document as CMS through the reader, verifies it with openssl,
# and stops the service. Everything lives in a scratch configuration that is
# removed afterwards, unless --real-config keeps the user's own. --key chooses
# the service's key: 1 RSA (the default), 2 P-256, 3 and 4 GOST R 34.10-2012
# of 256 and 512 bits (these need OpenSSL's GOST engine, libengine-gost-openssl).
#   scripts/cli-demo.sh [--real-config] [--key ID] [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
real=0
key=1
while [ $# -gt 0 ]; do
  case "$1" in
    --real-config) real=1; shift ;;
    --key) key="$2"; shift 2 ;;
    *) break ;;
  esac
done
case "$key" in
  1|2|3|4) ;;
  *) echo "cli-demo: --key is 1, 2, 3 or 4" >&2; exit 2 ;;
esac
build="$(cd "${1:-$root/build}" && pwd)"
nimbex="$build/tools/cli/nimbex"
service_pid=""
scratch="$(mktemp -d)"
cleanup() {
  if [ -n "$service_pid" ] && kill -0 "$service_pid" 2>/dev/null; then
    kill "$service_pid" && wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
step=0
say() { step=$((step + 1)); printf '\n== %d. %s\n' "$step" "$*"; }
run() { printf '$ %s\n' "$*"; "$@"; }

if [ "$real" = 0 ]; then
  export NIMBEX_MACHINE_DIR="$scratch/machine" NIMBEX_USER_DIR="$scratch/user"
  export NIMBEX_RUNTIME_DIR="$scratch/run" XDG_DATA_HOME="$scratch/data"
fi
export NIMBEX_MODULE="$build/src/libnimbex.so"

say "start the local signature service on a free loopback port"
"$build/tools/localservice/nimbex-localservice" --state-dir "$scratch/service" \
  >"$scratch/ready" 2>"$scratch/service.log" &
service_pid=$!
for _ in $(seq 1 100); do
  grep -q '"ready"' "$scratch/ready" 2>/dev/null && break
  kill -0 "$service_pid" 2>/dev/null || { cat "$scratch/service.log"; exit 1; }
  sleep 0.1
done
ready="$(head -n 1 "$scratch/ready")"
field() { printf '%s' "$ready" | sed -n "s/.*\"$1\":\"\([^\"]*\)\".*/\\1/p"; }
url="$(field discovery)"
export NIMBEX_CA_FILE="$(field caFile)"
echo "service at $url (its CA: $NIMBEX_CA_FILE)"
if [ "$key" -ge 3 ] && ! grep -q '"gost":{"available":true' <<<"$ready"; then
  # Exit status 77: nothing failed, the chosen key is not there to use.
  echo "cli-demo: key $key is a GOST key, and this service has no GOST engine (libengine-gost-openssl for its architecture)" >&2
  exit 77
fi

say "tell the module which browser application signs users in"
run "$nimbex" config set AuthApp "$build/tools/authapp/nimbex-authapp"

say "add the provider's services through its discovery document"
run "$nimbex" service discover "$url" --save
# The service with a document store, as the listing shows it.
service="$("$nimbex" service list | awk '/^[^ ]/ { name = $1 } /^  docstore:/ { print name; exit }')"

say "list my certificates on $service (signing in through the browser application)"
run "$nimbex" cert list --service "$service"

say "install certificate $key into my store with its link to the cloud container"
run "$nimbex" cert install --service "$service" --id "$key"
run "$nimbex" cert linked

say "sign a document as detached CMS through the reader"
document="$scratch/contract.txt"
printf 'I agree to the terms, %s.\n' "$(date -u +%F)" >"$document"
# The PIN of the demo key; a person types it when asked (without --pin-env).
export NIMBEX_DEMO_PIN=1234
run "$nimbex" sign "$document" --service "$service" --cms --pin-env NIMBEX_DEMO_PIN

say "verify the signature with openssl"
if [ "$key" -ge 3 ]; then
  # GOST signatures need the engine; it is configured for this command only.
  engines="$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')"
  printf '%s\n' "openssl_conf = openssl_init" "[openssl_init]" "engines = engine_section" \
    "[engine_section]" "gost = gost_section" "[gost_section]" "engine_id = gost" \
    "dynamic_path = $engines/gost.so" "default_algorithms = ALL" >"$scratch/openssl-gost.cnf"
  printf '$ export OPENSSL_CONF=%s  # the GOST engine for openssl\n' "$scratch/openssl-gost.cnf"
  export OPENSSL_CONF="$scratch/openssl-gost.cnf"
fi
run openssl cms -verify -binary -inform DER -purpose any -in "$document.p7s" \
  -content "$document" -CAfile "$NIMBEX_CA_FILE" -out /dev/null

say "stop the service"
kill "$service_pid" && wait "$service_pid" 2>/dev/null || true
service_pid=""
echo "stopped; nothing is left running"
echo
echo "demo: ok"

#!/usr/bin/env bash
# Runs the command-line walk-through of the main job and checks that it
# succeeded and left nothing behind: no process of its scratch directory, no
# scratch directory, and no change to the caller's configuration.
# With a key id, the walk-through signs with that key of the service; a GOST
# key skips (exit 77) when the service has no GOST engine (the 32-bit build).
#   cli-demo-test.sh SOURCE_DIR BUILD_DIR [KEY_ID]
set -euo pipefail
source="$1" build="$2" key="${3:-1}"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
# The caller's configuration, which the demo must not touch.
export NIMBEX_MACHINE_DIR="$home/machine" NIMBEX_USER_DIR="$home/user"
status=0
out="$(env -u NIMBEX_CA_FILE -u NIMBEX_MODULE "$source/scripts/cli-demo.sh" --key "$key" "$build" 2>&1)" ||
  status=$?
if [ "$status" = 77 ]; then echo "$out"; echo "skipped"; exit 77; fi
[ "$status" = 0 ] || { echo "$out"; exit 1; }
echo "$out"
grep -q '^demo: ok$' <<<"$out"
grep -q '^CMS Verification successful$' <<<"$out"
scratch="$(sed -n 's/.*(its CA: \(.*\)\/service\/ca.pem).*/\1/p' <<<"$out")"
[ -n "$scratch" ] && [ ! -e "$scratch" ] || { echo "scratch '$scratch' left behind"; exit 1; }
if pgrep -f "$scratch" >/dev/null; then echo "a process of $scratch is still running"; exit 1; fi
[ ! -e "$home/machine" ] && [ ! -e "$home/user" ] || { echo "the caller's configuration changed"; exit 1; }
echo "cli demo: ok"

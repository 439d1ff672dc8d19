#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demo against the
# module (and, once built, the local signature service it embeds as default).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh" >/dev/null
"$root/scripts/build.sh" "$root/build"
"$root/build/tools/demo/nimbex-demo" "$root/build/src/libnimbex.so"

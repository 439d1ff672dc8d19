#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demo: the reader
# table of the built module, then a walk-through of the module against the
# local signature service it starts for the run (docs/demo.md).
#   scripts/demo.sh [--table-only] [--service-config FILE]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh" >/dev/null
"$root/scripts/build.sh" "$root/build"
exec "$root/build/tools/demo/nimbex-demo" "$@" "$root/build/src/libnimbex.so"

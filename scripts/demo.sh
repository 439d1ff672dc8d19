#!/usr/bin/env bash
# The main job: installs what is missing, builds, and walks through the module
# with the command-line tool `nimbex` against the local signature service it
# starts for the run (scripts/cli-demo.sh, docs/demo.md): discovery, sign-in
# through the browser application, the certificates on the service, one
# installed with its link, a CMS signature through the reader checked by
# openssl. It runs in a scratch configuration unless given --real-config.
# The earlier tour of the reader table stays available as
# build/tools/demo/nimbex-demo.
#   scripts/demo.sh [--real-config]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh" >/dev/null
"$root/scripts/build.sh" "$root/build"
exec "$root/scripts/cli-demo.sh" "$@" "$root/build"

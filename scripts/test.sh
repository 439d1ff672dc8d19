#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh                 normal build in ./build
#   scripts/test.sh --sanitize      AddressSanitizer + UBSan build in ./build-asan
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
build="$root/build"
extra=()
if [ "${1:-}" = "--sanitize" ]; then
  build="$root/build-asan"
  extra=(-DNIMBEX_SANITIZE=ON -DNIMBEX_BENCH=OFF)
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
fi
"$root/scripts/build.sh" "$build" "${extra[@]}"
jobs="$(nproc 2>/dev/null || echo 2)"
ctest --test-dir "$build" --output-on-failure -j"$jobs"

#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh                 normal build in ./build
#   scripts/test.sh --sanitize      AddressSanitizer + UBSan build in ./build-asan
#   scripts/test.sh --i386          32-bit (ILP32) build in ./build-i386 (cmake/i386.cmake, docs/i386.md)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
extra=()
deps=()
case "${1:-}" in
  --sanitize)
    build="$root/build-asan"
    extra=(-DNIMBEX_SANITIZE=ON -DNIMBEX_BENCH=OFF)
    export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
    ;;
  --i386)
    build="$root/build-i386"
    extra=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386.cmake")
    deps=(--i386)
    ;;
  "") ;;
  *) echo "usage: $0 [--sanitize|--i386]" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh" "${deps[@]}"
"$root/scripts/build.sh" "$build" "${extra[@]}"
jobs="$(nproc 2>/dev/null || echo 2)"
ctest --test-dir "$build" --output-on-failure -j"$jobs"

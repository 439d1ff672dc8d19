#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh                 normal build in ./build
#   scripts/test.sh --sanitize      AddressSanitizer + UBSan build in ./build-asan
#   scripts/test.sh --tsan          ThreadSanitizer build in ./build-tsan: only the tests labelled
#                                   "concurrency" (and what they need) are built and run
#   scripts/test.sh --i386          32-bit (ILP32) build in ./build-i386 (cmake/i386.cmake, docs/i386.md)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
extra=()
deps=()
targets=()
labels=()
case "${1:-}" in
  --sanitize)
    build="$root/build-asan"
    extra=(-DNIMBEX_SANITIZE=ON -DNIMBEX_BENCH=OFF)
    export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
    export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
    ;;
  --tsan)
    build="$root/build-tsan"
    extra=(-DNIMBEX_TSAN=ON -DNIMBEX_BENCH=OFF)
    targets=(test_reader_concurrency)
    labels=(-L concurrency)
    # The local service is another process: the normal build's programs serve, when it has them.
    if [ -x "$root/build/tools/localservice/nimbex-localservice" ] &&
       [ -x "$root/build/tools/authapp/nimbex-authapp" ]; then
      extra+=(-DNIMBEX_PROGRAMS_FROM="$root/build")
    fi
    export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
    ;;
  --i386)
    build="$root/build-i386"
    extra=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386.cmake")
    deps=(--i386)
    ;;
  "") ;;
  *) echo "usage: $0 [--sanitize|--tsan|--i386]" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh" "${deps[@]}"
jobs="$(nproc 2>/dev/null || echo 2)"
if [ ${#targets[@]} -eq 0 ]; then
  "$root/scripts/build.sh" "$build" "${extra[@]}"
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
  cmake --build "$build" -j"$jobs" --target "${targets[@]}"
fi
ctest --test-dir "$build" --output-on-failure -j"$jobs" "${labels[@]}"

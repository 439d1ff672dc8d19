#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 20)
# Seeds come from fuzz/corpus/<target>/ (copied, never modified); findings land
# in build-fuzz/findings/ and make the script fail.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
secs="${1:-20}"
build="$root/build-fuzz"
jobs="$(nproc 2>/dev/null || echo 2)"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBEX_FUZZ=ON >/dev/null
mapfile -t names < <(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(fuzz_[A-Za-z0-9_]*\).*/\1/p' | sort -u)
if [ ${#names[@]} -eq 0 ]; then echo "fuzz: no targets"; exit 0; fi
cmake --build "$build" -j"$jobs" --target "${names[@]}"
mkdir -p "$build/findings"
mapfile -t targets < <(find "$build/fuzz" -type f -perm -u+x -name 'fuzz_*' | sort)
if [ ${#targets[@]} -eq 0 ]; then echo "fuzz: no targets"; exit 0; fi
failed=0
for t in "${targets[@]}"; do
  name="$(basename "$t")"
  corpus="$(mktemp -d)"
  for seed in "$root/fuzz/corpus/$name" "$root/fuzz/corpus/${name#fuzz_}"; do
    [ -d "$seed" ] && cp -r "$seed/." "$corpus/"
  done
  echo "fuzz: $name for ${secs}s"
  if ! (cd "$build/findings" && "$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=0 "$corpus" >"$build/findings/$name.log" 2>&1); then
    echo "fuzz: $name FAILED (see $build/findings/$name.log)"
    tail -40 "$build/findings/$name.log"
    failed=1
  fi
  rm -rf "$corpus"
done
exit $failed

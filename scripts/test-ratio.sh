#!/usr/bin/env bash
# Counts non-blank lines of C++ sources (.cpp, .h): tests (tests/) against code
# (src/, include/, platform/, tools/) and prints both counts and the ratio
# tests/code. bench/ and fuzz/ count on neither side.
#   scripts/test-ratio.sh              the whole tree
#   scripts/test-ratio.sh PATH...      the test count of these paths only (files
#                                      or folders under tests/), code as above
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# Non-blank lines of the .cpp/.h files under the given paths (0 for none).
count() {
  { find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null || true; } \
    | xargs -0 -r awk 'NF' | wc -l
}

if [ $# -gt 0 ]; then
  tests=$(count "$@")
else
  tests=$(count tests)
fi
code=$(count src include platform tools)
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { if (c == 0) print "n/a"; else printf "%.2f", t / c }')
echo "tests: $tests"
echo "code:  $code"
echo "ratio: $ratio"

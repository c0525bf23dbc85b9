#!/usr/bin/env bash
# Non-blank lines of the tests (Tests/) against those of the product (everything else but
# bench/), counting C++ sources and headers, Python, shell and CMake files under version
# control; then the tests' lines per folder.
#   tools/count-lines.sh
set -euo pipefail
cd "$(dirname "$0")/.."
count() { grep -E '\.(cpp|h|py|sh|cmake)$|CMakeLists\.txt$' | { xargs -r cat || true; } | grep -cv '^\s*$' || true; }
tests=$(git ls-files Tests | count)
product=$(git ls-files | grep -vE '^(Tests|bench)/' | count)
echo "tests $tests, product $product: $(( 100 * tests / product ))%"
for d in Tests/*/; do echo "  $(git ls-files "$d" | count) $d"; done | sort -rn

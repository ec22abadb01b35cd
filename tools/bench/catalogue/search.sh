#!/usr/bin/env bash
# Worst-case search benchmark: 100,000 names of 255 characters searched with adversarial "_" and "%"
# patterns; exits non-zero when the worst search takes longer than its limit.
# Usage: tools/bench/catalogue/search.sh [build folder, default build/test; a Release build measures best]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build=${1:-$top/build/test}

cmake --build "$build" --target bench_search_worst_case >/dev/null
bench=$(find "$build" -name bench_search_worst_case -type f -perm -u+x | head -n 1)
"$bench"

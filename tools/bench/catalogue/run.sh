#!/usr/bin/env bash
# Catalogue benchmark: serves a listing of 100,000 keys from loopback and runs bench_catalogue on it.
# Usage: tools/bench/catalogue/run.sh [build folder, default build/test] [number of keys]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build=${1:-$top/build/test}
keys=${2:-100000}

cmake --build "$build" --target bench_catalogue >/dev/null
bench=$(find "$build" -name bench_catalogue -type f -perm -u+x | head -n 1)

. "$here/../bench-lib.sh"
start_server python3 "$here/listing_server.py" --keys "$keys" --bucket bench --folder db --port-file "$state/port"

"$bench" "$port" bench/db

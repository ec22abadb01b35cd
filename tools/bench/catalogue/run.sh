#!/usr/bin/env bash
# Catalogue benchmark: for each number of keys, serves a listing of that many keys from loopback and
# measures, each in a process of its own, our fill and our listing parse beside pugixml's load and
# extraction and the plain download of the same pages (the limit), then prints them side by side.
# The fill's memory per record, heap and peak resident size, is set against its limit (80 bytes). Then
# the worst-case searches (search.sh) run in the same build.
# Usage: tools/bench/catalogue/run.sh [build folder, default build/release-bench] [numbers of keys...]
# (default 10000 100000 550000 1000000). Configure a Release build folder first, for instance:
#   cmake --preset test -B build/release-bench -DCMAKE_BUILD_TYPE=Release
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build=${1:-$top/build/release-bench}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(10000 100000 550000 1000000)

cmake --build "$build" --target bench_catalogue >/dev/null
bench=$(find "$build" -name bench_catalogue -type f -perm -u+x | head -n 1)

. "$here/../bench-lib.sh"
results="$state/results"
for keys in "${counts[@]}"; do
  start_server python3 "$here/listing_server.py" --keys "$keys" --bucket bench --folder db --port-file "$state/port"
  for measurement in fill parse pugixml http; do
    "$bench" "$measurement" "$port" | tee -a "$state/log" | grep "^$measurement " >>"$results"
  done
  stop_server
done
grep '^search' "$state/log" | sed 's/^/fill /' || true

awk -v limit=80 '
  function field(name,   i, pair) {
    for (i = 2; i <= NF; i++) { split($i, pair, "="); if (pair[1] == name) return pair[2] }
  }
  BEGIN {
    label["fill"] = "ours: fill (HTTP, parse, records)"
    label["parse"] = "ours: listing parse"
    label["pugixml"] = "pugixml: load and extract"
    label["http"] = "limit: plain HTTP of the pages"
    printf "%-9s %-36s %11s %10s %10s %9s  %s\n", "keys", "measurement", "CPU us/key", "heap B/rec",
      "RSS B/rec", "peak MiB", "memory limit"
  }
  {
    keys = field("keys"); cpu[keys, $1] = field("cpu_us_per_key")
    verdict = ""
    rss = "-"
    if ($1 == "fill") {
      rss = sprintf("%.1f", field("rss_per_record"))
      verdict = sprintf("%d B/rec: %s", limit, field("bytes_per_record") <= limit ? "within" : "OVER")
    }
    printf "%-9s %-36s %11.3f %10.1f %10s %9.1f  %s\n", keys, label[$1], cpu[keys, $1], field("bytes_per_record"),
      rss, field("peak_mib"), verdict
    if ($1 == "http")
      printf "%-9s %-36s %11.2fx\n\n", keys, "ratio: our parse / pugixml", cpu[keys, "parse"] / cpu[keys, "pugixml"]
  }
  END {
    print "heap B/rec: the heap the catalogue holds per record for fill (the limit is on it); a lean record (32 B, the name, 4 B row) otherwise"
    print "RSS B/rec: how far the fill raised the peak resident size, per record (after one page read before it)"
  }
' "$results"

"$here/search.sh" "$build"

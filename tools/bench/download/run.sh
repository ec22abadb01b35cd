#!/usr/bin/env bash
# Download benchmark: serves an object of SIZE_MIB (default 1024) random bytes from a loopback server,
# downloads it with the storage client (bench_download, with the MD5 computed on the way and without it),
# with `curl -o` and with `curl -o /dev/null` (the
# limit: no file at all), three times each, and prints the throughputs, the ratios (best run against best
# run) and the client's peak resident memory, also for a small object, to show that the memory does not
# grow with the object's size.
# Usage: tools/bench/download/run.sh [build folder, default build/test]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build=${1:-$top/build/test}
size_mib=${SIZE_MIB:-1024}
runs=3

cmake --build "$build" --target bench_download >/dev/null
bench=$(find "$build" -name bench_download -type f -perm -u+x | head -n 1)

. "$here/../bench-lib.sh"

head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$state/object"
head -c $((16 * 1024 * 1024)) /dev/urandom >"$state/small"

serve() { start_server python3 "$here/object_server.py" --file "$1" --port-file "$state/port"; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }

serve "$state/small"
small_rss=$("$bench" "s3.localhost:$port" bench db/small.backup "$state/out" | field peak_rss_kib)
stop_server

serve "$state/object"
best_ours=0
best_plain=0
best_curl=0
best_null=0
peak_rss=0
for run in $(seq 1 $runs); do
  line=$("$bench" "s3.localhost:$port" bench db/object.backup "$state/out")
  cmp -s "$state/object" "$state/out" || { echo "storage client: the download differs from the object" >&2; exit 1; }
  ours=$(echo "$line" | field mib_per_s)
  rss=$(echo "$line" | field peak_rss_kib)
  rm -f "$state/out"
  line=$("$bench" "s3.localhost:$port" bench db/object.backup "$state/out" --no-md5)
  cmp -s "$state/object" "$state/out" || { echo "storage client: the download differs from the object" >&2; exit 1; }
  plain=$(echo "$line" | field mib_per_s)
  rss=$(awk -v a="$rss" -v b="$(echo "$line" | field peak_rss_kib)" 'BEGIN { print (b > a ? b : a) }')
  rm -f "$state/out"
  speed=$(curl -s -o "$state/out" -w '%{speed_download}' -H "Authorization: AWS4-HMAC-SHA256 Credential=bench" \
    "http://bench.s3.localhost:$port/db/object.backup")
  cmp -s "$state/object" "$state/out" || { echo "curl: the download differs from the object" >&2; exit 1; }
  rm -f "$state/out"
  theirs=$(awk -v b="$speed" 'BEGIN { printf "%.1f", b / 1048576 }')
  speed=$(curl -s -o /dev/null -w '%{speed_download}' -H "Authorization: AWS4-HMAC-SHA256 Credential=bench" \
    "http://bench.s3.localhost:$port/db/object.backup")
  limit=$(awk -v b="$speed" 'BEGIN { printf "%.1f", b / 1048576 }')
  printf 'run %d: storage client %7.1f MiB/s, without MD5 %7.1f MiB/s (peak RSS %d KiB)   curl -o %7.1f MiB/s   curl -o /dev/null %7.1f MiB/s\n' \
    "$run" "$ours" "$plain" "$rss" "$theirs" "$limit"
  best_ours=$(awk -v a="$best_ours" -v b="$ours" 'BEGIN { print (b > a ? b : a) }')
  best_plain=$(awk -v a="$best_plain" -v b="$plain" 'BEGIN { print (b > a ? b : a) }')
  best_curl=$(awk -v a="$best_curl" -v b="$theirs" 'BEGIN { print (b > a ? b : a) }')
  best_null=$(awk -v a="$best_null" -v b="$limit" 'BEGIN { print (b > a ? b : a) }')
  peak_rss=$(awk -v a="$peak_rss" -v b="$rss" 'BEGIN { print (b > a ? b : a) }')
done
stop_server

echo "object: $size_mib MiB, best of $runs runs"
echo "storage client: $best_ours MiB/s"
echo "  without MD5:  $best_plain MiB/s"
echo "curl -o:        $best_curl MiB/s"
echo "curl -o /dev/null: $best_null MiB/s"
awk -v a="$best_ours" -v b="$best_curl" 'BEGIN { printf "time ratio to curl -o:           %.2f\n", b / a }'
awk -v a="$best_ours" -v b="$best_null" 'BEGIN { printf "time ratio to curl -o /dev/null: %.2f\n", b / a }'
awk -v a="$best_plain" -v b="$best_null" \
  'BEGIN { printf "  without MD5, to curl -o /dev/null: %.2f (goal <= 1.10)\n", b / a }'
awk -v a="$peak_rss" -v s="$small_rss" \
  'BEGIN { printf "peak RSS:       %.1f MiB for %s MiB, %.1f MiB for 16 MiB (goal < 40 MiB)\n", a / 1024, "'"$size_mib"'", s / 1024 }'

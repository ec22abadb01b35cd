#!/usr/bin/env bash
# Download benchmark. Serves an object of SIZE_MIB (default 1024) random bytes from a loopback server and
# downloads it, best of three runs each:
# - at the limit (the server as fast as it can): the storage client's one GET with the MD5 on the way and
#   without it, the product's whole download (ranges over several connections), `curl -o` and
#   `curl -o /dev/null` (no file at all); the peak resident memory also for a 16 MiB object;
# - on a link like S3's (every connection capped at RATE_MIB MiB/s, default 40, and FIRST_BYTE_MS ms before
#   each answer's first byte, default 20): the product with one connection and with its ranges, `curl -o`
#   and the AWS command line (`aws s3 cp`, default settings);
# - going on and taking what is there (at the limit, medians of RESUME_RUNS interleaved runs, default 5): a
#   download stopped at half the object and run again (the bytes the second run fetches, goal at most 52 %
#   of the object), and a download of an object whose verified copy is already there (its time before
#   pg_restore would start, of which the MD5 pass, goal under 1 s besides that pass, against `md5sum` of
#   the same file); RESUME_ONLY=1 runs this part alone.
# It prints rows (ours, peer, ratio) and asserts nothing.
# Usage: tools/bench/download/run.sh [build folder, default build/test]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build=${1:-$top/build/test}
size_mib=${SIZE_MIB:-1024}
rate_mib=${RATE_MIB:-40}
first_byte_ms=${FIRST_BYTE_MS:-20}
runs=3
resume_runs=${RESUME_RUNS:-5}

cmake --build "$build" --target bench_download >/dev/null
bench=$(find "$build" -name bench_download -type f -perm -u+x | head -n 1)
# Debian's awscli, which scripts/setup installs; another aws on the PATH only when it is missing.
aws=/usr/bin/aws
[ -x "$aws" ] || aws=$(command -v aws || true)

. "$here/../bench-lib.sh"

head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$state/object"
head -c $((16 * 1024 * 1024)) /dev/urandom >"$state/small"

serve() { start_server python3 "$here/object_server.py" --port-file "$state/port" --file "$@"; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }
mib_per_s() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
# ours <mode...>: one download with bench_download, checked against the object; sets $speed and $rss.
ours() {
  local line
  line=$("$bench" "s3.localhost:$port" bench db/object.backup "$state/out" "$@")
  cmp -s "$state/object" "$state/out" || { echo "bench_download $*: the download differs from the object" >&2; exit 1; }
  rm -f "$state/out"
  speed=$(echo "$line" | field mib_per_s)
  rss=$(echo "$line" | field peak_rss_kib)
}
curl_o() {
  local bytes
  bytes=$(curl -s -o "$1" -w '%{speed_download}' -H "Authorization: AWS4-HMAC-SHA256 Credential=bench" \
    "http://bench.s3.localhost:$port/db/object.backup")
  if [ "$1" != /dev/null ]; then
    cmp -s "$state/object" "$1" || { echo "curl: the download differs from the object" >&2; exit 1; }
    rm -f "$1"
  fi
  speed=$(mib_per_s "$bytes")
}
aws_cp() {
  local started ended
  started=$(date +%s.%N)
  AWS_ACCESS_KEY_ID=bench AWS_SECRET_ACCESS_KEY=bench AWS_DEFAULT_REGION=us-east-1 AWS_CONFIG_FILE=/dev/null \
    "$aws" s3 cp s3://bench/db/object.backup "$state/out" --endpoint-url "http://127.0.0.1:$port" --only-show-errors
  ended=$(date +%s.%N)
  cmp -s "$state/object" "$state/out" || { echo "aws s3 cp: the download differs from the object" >&2; exit 1; }
  rm -f "$state/out"
  speed=$(awk -v s="$size_mib" -v a="$started" -v b="$ended" 'BEGIN { printf "%.1f", s / (b - a) }')
}
row() { printf '%-34s %8s MiB/s   %s\n' "$1" "$2" "${3:-}"; }
ratio() { awk -v a="$1" -v b="$2" -v goal="$3" 'BEGIN { printf "%.2f (goal %s)", a / b, goal }'; }

if [ "${RESUME_ONLY:-0}" != 1 ]; then
# At the limit.
serve "$state/small"
"$bench" "s3.localhost:$port" bench db/small.backup "$state/out" --backup >"$state/line"
small_rss=$(field peak_rss_kib <"$state/line")
rm -f "$state/out"
stop_server

serve "$state/object"
one=0 plain=0 ranged=0 curl_file=0 curl_null=0 peak_rss=0
for run in $(seq 1 $runs); do
  ours; one=$(best "$one" "$speed"); peak_rss=$(best "$peak_rss" "$rss")
  ours --no-md5; plain=$(best "$plain" "$speed"); peak_rss=$(best "$peak_rss" "$rss")
  ours --backup; ranged=$(best "$ranged" "$speed"); peak_rss=$(best "$peak_rss" "$rss")
  curl_o "$state/out"; curl_file=$(best "$curl_file" "$speed")
  curl_o /dev/null; curl_null=$(best "$curl_null" "$speed")
done
stop_server

echo "== at the limit: $size_mib MiB, best of $runs runs"
row "one GET, MD5 on the way" "$one" "time ratio to curl -o /dev/null: $(ratio "$curl_null" "$one" "<= 1.10")"
row "one GET, without MD5" "$plain" "time ratio to curl -o /dev/null: $(ratio "$curl_null" "$plain" "<= 1.10")"
row "download in ranges" "$ranged"
row "curl -o" "$curl_file"
row "curl -o /dev/null (the limit)" "$curl_null"
awk -v a="$peak_rss" -v s="$small_rss" -v m="$size_mib" \
  'BEGIN { printf "peak RSS: %.1f MiB for %s MiB, %.1f MiB for 16 MiB (goal <= 40 MiB)\n", a / 1024, m, s / 1024 }'

# On a link like S3's.
serve "$state/object" --rate-mib "$rate_mib" --first-byte-ms "$first_byte_ms"
single=0 ranged=0 curl_file=0 peer=0
for run in $(seq 1 $runs); do
  ours --backup-one; single=$(best "$single" "$speed")
  ours --backup; ranged=$(best "$ranged" "$speed")
  curl_o "$state/out"; curl_file=$(best "$curl_file" "$speed")
  if [ -n "$aws" ]; then aws_cp; peer=$(best "$peer" "$speed"); fi
done
stop_server

echo "== on a capped link: $rate_mib MiB/s per connection, $first_byte_ms ms to the first byte; $size_mib MiB, best of $runs runs"
row "download, one connection" "$single"
row "download in ranges" "$ranged" "to one connection: $(ratio "$ranged" "$single" ">= 5")"
row "curl -o" "$curl_file"
if [ -n "$aws" ]; then
  row "aws s3 cp" "$peer"
  row "download in ranges" "$ranged" "to aws s3 cp: $(ratio "$ranged" "$peer" ">= 1.2")"
else
  echo "aws s3 cp: not installed (scripts/setup installs awscli)"
fi
fi

# Going on and taking what is there: medians of interleaved runs.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
seconds_of() { local started=$(date +%s.%N); "$@" >/dev/null; awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }'; }
serve "$state/object"
"$bench" "s3.localhost:$port" bench db/object.backup "$state/kept" --backup >/dev/null
cmp -s "$state/object" "$state/kept" || { echo "bench_download: the kept download differs from the object" >&2; exit 1; }
: >"$state/again"; : >"$state/reuse"; : >"$state/md5"; : >"$state/md5sum"
for run in $(seq 1 $resume_runs); do
  rm -f "$state/resumed" "$state/resumed".*
  line=$("$bench" "s3.localhost:$port" bench db/object.backup "$state/resumed" --resume-half)
  cmp -s "$state/object" "$state/resumed" || { echo "bench_download --resume-half: the download differs" >&2; exit 1; }
  echo "$line" | awk '{ split($1, s, "="); split($3, a, "="); print a[2] / s[2] * 100 }' >>"$state/again"
  line=$("$bench" "s3.localhost:$port" bench db/object.backup "$state/kept" --reuse)
  echo "$line" | field total_seconds >>"$state/reuse"
  echo "$line" | field md5_seconds >>"$state/md5"
  seconds_of md5sum "$state/kept" >>"$state/md5sum"
done
stop_server

again=$(median <"$state/again"); reuse=$(median <"$state/reuse"); md5=$(median <"$state/md5")
md5sum_s=$(median <"$state/md5sum")
echo "== going on and taking what is there: $size_mib MiB, medians of $resume_runs interleaved runs"
awk -v p="$again" -v m="$size_mib" 'BEGIN { printf "%-34s fetched again %.1f %% of %s MiB (%.0f MiB) (goal <= 52 %%)\n", "stopped at 50 %, run again", p, m, p * m / 100 }'
awk -v r="$reuse" -v h="$md5" 'BEGIN { printf "%-34s %.3f s before pg_restore, of which the MD5 pass %.3f s: %.3f s besides it (goal < 1 s)\n", "verified copy already there", r, h, r - h }'
awk -v h="$md5" -v s="$md5sum_s" 'BEGIN { printf "%-34s %.3f s, md5sum %.3f s: ratio %.2f\n", "MD5 pass over the copy", h, s, h / s }'

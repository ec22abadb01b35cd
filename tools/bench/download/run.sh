#!/usr/bin/env bash
# Download benchmark. Serves an object of random bytes from a loopback server and downloads it with our
# client and with the peers, every side timed the same way: from the process's start to its end, from
# outside. The sides run in turn, ROUNDS times (default 5), and each row is the median of its rounds.
# - fixed cost: a 1 KiB object, each tool's start-up and one request;
# - at the limit (SIZE_MIB, default 1024; the server as fast as it can): the storage client's one GET with
#   the MD5 on the way and without it, the product's whole download (ranges over several connections),
#   `curl -o` to a file (the equal peer) and `curl -o /dev/null` (no file at all: the limit); the peak
#   resident memory also for a 16 MiB object;
# - on a link like S3's (LINK_MIB, default 512; every connection capped at RATE_MIB MiB/s, default 40, all
#   of them together at TOTAL_MIB MiB/s, default 250, and FIRST_BYTE_MS ms before each answer's first
#   byte, default 20): the product with one connection and with its ranges (12 connections of 8 MiB),
#   `curl -o`, the AWS command line with its defaults (10 requests) and with the product's 12 requests of
#   8 MiB, and the link's cap itself;
# - going on and taking what is there (at the limit): a download stopped at half the object and run again
#   (the bytes the second run fetches, goal at most 52 % of the object), and a download of an object whose
#   verified copy is already there (its time before pg_restore would start, of which the MD5 pass, goal
#   under 1 s besides that pass, against `md5sum` of the same file); RESUME_ONLY=1 runs this part alone.
# It prints the load, then rows (median, peer, ratio, goal) and asserts nothing.
# Usage: tools/bench/download/run.sh [build folder, default build/test]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build=${1:-$top/build/test}
size_mib=${SIZE_MIB:-1024}
link_mib=${LINK_MIB:-512}
rate_mib=${RATE_MIB:-40}
total_mib=${TOTAL_MIB:-250}
first_byte_ms=${FIRST_BYTE_MS:-20}
rounds=${ROUNDS:-5}

cmake --build "$build" --target bench_download >/dev/null
bench=$(find "$build" -name bench_download -type f -perm -u+x | head -n 1)
# Debian's awscli, which scripts/setup installs; another aws on the PATH only when it is missing.
aws=/usr/bin/aws
[ -x "$aws" ] || aws=$(command -v aws || true)

. "$here/../bench-lib.sh"

head -c 1024 /dev/urandom >"$state/tiny"
head -c $((16 * 1024 * 1024)) /dev/urandom >"$state/small"
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$state/object"
head -c $((link_mib * 1024 * 1024)) /dev/urandom >"$state/link"
# The AWS command line at the product's settings: 12 requests at once, parts of 8 MiB.
cat >"$state/aws-config" <<'CONFIG'
[default]
s3 =
  max_concurrent_requests = 12
  multipart_chunksize = 8MB
  multipart_threshold = 16MB
CONFIG

serve() { start_server python3 "$here/object_server.py" --port-file "$state/port" --file "$@"; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
now() { echo "${EPOCHREALTIME/,/.}"; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.4f", b - a }'; }
check() { cmp -s "$1" "$state/out" || { echo "$2: the download differs from the object" >&2; exit 1; }; rm -f "$state/out"; }

# Each side downloads $object (the served file, key db/object.backup) and sets $took (seconds, exec to exit).
ours() {
  local started line
  started=$(now)
  line=$("$bench" "s3.localhost:$port" bench db/object.backup "$state/out" "$@")
  took=$(seconds_since "$started")
  check "$object" "bench_download $*"
  rss=$(echo "$line" | field peak_rss_kib)
}
curl_o() {
  local started
  started=$(now)
  curl -s -o "$1" -H "Authorization: AWS4-HMAC-SHA256 Credential=bench" "http://bench.s3.localhost:$port/db/object.backup"
  took=$(seconds_since "$started")
  [ "$1" = /dev/null ] || check "$object" "curl -o"
}
aws_cp() {
  local started
  started=$(now)
  AWS_ACCESS_KEY_ID=bench AWS_SECRET_ACCESS_KEY=bench AWS_DEFAULT_REGION=us-east-1 AWS_CONFIG_FILE="$1" \
    "$aws" s3 cp s3://bench/db/object.backup "$state/out" --endpoint-url "http://127.0.0.1:$port" --only-show-errors
  took=$(seconds_since "$started")
  check "$object" "aws s3 cp"
}

# side <name> <command...>: runs one side once and appends its time to the list named <name>.
side() {
  local name=$1
  shift
  "$@"
  eval "$name+=(\"\$took\")"
}
mib_s() { [ "$1" = - ] && echo - || awk -v m="$1" -v t="$2" 'BEGIN { printf "%.1f", m / t }'; }
row() { printf '  %-40s %9.3f s %9s MiB/s   %s\n' "$1" "$2" "$(mib_s "$3" "$2")" "${4:-}"; }
# ratio <our seconds> <peer seconds> <goal>: the peer's time over ours (above 1: we are faster).
ratio() { awk -v a="$1" -v b="$2" -v goal="$3" 'BEGIN { printf "speed ratio %.2f (goal %s)", b / a, goal }'; }

echo "== load before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; $rounds rounds, sides in turn, medians"

if [ "${RESUME_ONLY:-0}" != 1 ]; then

# Fixed cost: a 1 KiB object.
object=$state/tiny
serve "$object"
t_ours=() t_curl=() t_aws=()
for _ in $(seq 1 "$rounds"); do
  side t_ours ours --backup
  side t_curl curl_o "$state/out"
  [ -z "$aws" ] || side t_aws aws_cp /dev/null
done
stop_server
echo "== fixed cost: a 1 KiB object, exec to exit"
row "Corvane's download" "$(median "${t_ours[@]}")" -
row "curl -o" "$(median "${t_curl[@]}")" -
[ -z "$aws" ] || row "aws s3 cp" "$(median "${t_aws[@]}")" -

# Peak memory for a small object.
object=$state/small
serve "$object"
ours --backup
small_rss=$rss
stop_server

# At the limit.
object=$state/object
serve "$object"
t_one=() t_plain=() t_ranged=() t_file=() t_null=() peak_rss=0
for _ in $(seq 1 "$rounds"); do
  side t_one ours
  side t_plain ours --no-md5
  side t_ranged ours --backup
  peak_rss=$((rss > peak_rss ? rss : peak_rss))
  side t_file curl_o "$state/out"
  side t_null curl_o /dev/null
done
stop_server
one=$(median "${t_one[@]}") plain=$(median "${t_plain[@]}") ranged=$(median "${t_ranged[@]}")
file=$(median "${t_file[@]}") null=$(median "${t_null[@]}")
echo "== at the limit: $size_mib MiB, exec to exit"
row "one GET to a file, MD5 on the way" "$one" "$size_mib" "vs curl -o: $(ratio "$one" "$file" ">= 0.91")"
row "one GET to a file, without MD5" "$plain" "$size_mib" "vs curl -o: $(ratio "$plain" "$file" ">= 0.91")"
row "download in ranges (the product)" "$ranged" "$size_mib" "vs curl -o: $(ratio "$ranged" "$file" ">= 0.91")"
row "curl -o (to a file)" "$file" "$size_mib"
row "curl -o /dev/null (no file: the limit)" "$null" "$size_mib"
awk -v a="$peak_rss" -v s="$small_rss" -v m="$size_mib" \
  'BEGIN { printf "  peak RSS of the download in ranges: %.1f MiB for %s MiB, %.1f MiB for 16 MiB (goal <= 40 MiB)\n", a / 1024, m, s / 1024 }'

# On a link like S3's.
object=$state/link
serve "$object" --rate-mib "$rate_mib" --total-rate-mib "$total_mib" --first-byte-ms "$first_byte_ms"
t_single=() t_ranged=() t_curl=() t_aws=() t_aws12=()
for _ in $(seq 1 "$rounds"); do
  side t_single ours --backup-one
  side t_ranged ours --backup
  side t_curl curl_o "$state/out"
  if [ -n "$aws" ]; then
    side t_aws aws_cp /dev/null
    side t_aws12 aws_cp "$state/aws-config"
  fi
done
stop_server
ranged=$(median "${t_ranged[@]}")
cap=$(awk -v m="$link_mib" -v r="$total_mib" 'BEGIN { printf "%.4f", m / r }')
echo "== on a capped link: $rate_mib MiB/s per connection, $total_mib MiB/s in all, $first_byte_ms ms to the first byte; $link_mib MiB"
row "Corvane, one connection" "$(median "${t_single[@]}")" "$link_mib"
row "Corvane, 12 ranges of 8 MiB" "$ranged" "$link_mib" "vs the cap: $(ratio "$ranged" "$cap" ">= 0.91")"
row "curl -o" "$(median "${t_curl[@]}")" "$link_mib"
if [ -n "$aws" ]; then
  aws10=$(median "${t_aws[@]}") aws12=$(median "${t_aws12[@]}")
  row "aws s3 cp, defaults (10 requests)" "$aws10" "$link_mib" "Corvane's $(ratio "$ranged" "$aws10" ">= 1.1")"
  row "aws s3 cp, 12 requests of 8 MiB" "$aws12" "$link_mib" "Corvane's $(ratio "$ranged" "$aws12" ">= 1.1")"
else
  echo "  aws s3 cp: not installed (scripts/setup installs awscli)"
fi
row "the link's cap" "$cap" "$link_mib"
fi

# Going on and taking what is there.
object=$state/object
serve "$object"
"$bench" "s3.localhost:$port" bench db/object.backup "$state/kept" --backup >/dev/null
cmp -s "$object" "$state/kept" || { echo "bench_download: the kept download differs from the object" >&2; exit 1; }
again=() reuse=() hashing=() t_md5sum=()
for _ in $(seq 1 "$rounds"); do
  rm -f "$state/resumed" "$state/resumed".*
  line=$("$bench" "s3.localhost:$port" bench db/object.backup "$state/resumed" --resume-half)
  cmp -s "$object" "$state/resumed" || { echo "bench_download --resume-half: the download differs" >&2; exit 1; }
  again+=("$(echo "$line" | awk '{ split($1, s, "="); split($3, a, "="); print a[2] / s[2] * 100 }')")
  line=$("$bench" "s3.localhost:$port" bench db/object.backup "$state/kept" --reuse)
  reuse+=("$(echo "$line" | field total_seconds)")
  hashing+=("$(echo "$line" | field md5_seconds)")
  started=$(now)
  md5sum "$state/kept" >/dev/null
  t_md5sum+=("$(seconds_since "$started")")
done
stop_server
again=$(median "${again[@]}") reuse=$(median "${reuse[@]}") hashing=$(median "${hashing[@]}")
md5sum_s=$(median "${t_md5sum[@]}")
echo "== going on and taking what is there: $size_mib MiB"
awk -v p="$again" -v m="$size_mib" 'BEGIN { printf "  %-40s fetched again %.1f %% of %s MiB (%.0f MiB) (goal <= 52 %%)\n", "stopped at 50 %, run again", p, m, p * m / 100 }'
awk -v r="$reuse" -v h="$hashing" 'BEGIN { printf "  %-40s %.3f s before pg_restore, of which the MD5 pass %.3f s: %.3f s besides it (goal < 1 s)\n", "verified copy already there", r, h, r - h }'
awk -v h="$hashing" -v s="$md5sum_s" 'BEGIN { printf "  %-40s %.3f s, md5sum %.3f s: ratio %.2f\n", "MD5 pass over the copy", h, s, h / s }'
echo "== load after: $(cut -d' ' -f1-3 /proc/loadavg)"

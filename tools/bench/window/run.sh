#!/usr/bin/env bash
# Main window benchmark. Starts the account service (account demo/demo), the listing server and the
# object server of the other benchmarks on loopback, then measures with bench_window:
# - the same object of SIZE_MIB MiB (default 1024) downloaded through the window's Download command and by
#   the headless DownloadBackup (on the main thread, and on a thread of its own as the window's runs), in
#   turns, RUNS times each (default 5): the medians side by side, goal: the window at most 1.05 times the
#   headless time;
# - STARTS starts of the window (default 3, each a process of its own) over a listing of KEYS keys
#   (default 1000000): the medians of the times to a visible window (goal: under 0.5 s) and to a full
#   grid, and the window's listing beside the headless fill of the same listing. Under the offscreen
#   platform, and also under X (xcb on Xvfb) when xvfb-run is installed.
# The window's settings live in the scratch folder. Prints rows (ours, peer or limit, ratio) and asserts
# nothing.
# Usage: tools/bench/window/run.sh [build folder, default build/release-bench: a Release build of the test
# preset, configured here the first time]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
build=${1:-$top/build/release-bench}
size_mib=${SIZE_MIB:-1024}
runs=${RUNS:-5}
keys=${KEYS:-1000000}
starts=${STARTS:-3}

. "$here/../bench-lib.sh"
# bench-lib.sh stops one server; the servers that run beside it are kept here and stopped on exit too.
beside=()
start_beside() {
  start_server "$@"
  beside+=("$server_pid")
  server_pid=
}
trap 'for pid in "${beside[@]}"; do kill "$pid" 2>/dev/null || true; done; cleanup' EXIT

export no_proxy=localhost,.localhost,127.0.0.1 NO_PROXY=localhost,.localhost,127.0.0.1
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$state/runtime"
mkdir -p "$state/work" "$state/runtime"
chmod 700 "$state/runtime"

# quietly <command...>: runs it with its warnings (the build's, the platform's) shown only when it fails.
quietly() { "$@" 2>"$state/stderr" || { cat "$state/stderr" >&2; return 1; }; }

[ -f "$build/CMakeCache.txt" ] || quietly nice cmake --preset test -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
# The compiler's errors come on the standard output.
quietly nice cmake --build "$build" -j2 --target bench_window >"$state/build" || { cat "$state/build" >&2; exit 1; }
bench=$(find "$build" -name bench_window -type f -perm -u+x | head -n 1)

# median <field> <file>: the median of the field's values over the file's lines.
median() {
  sed -n "s/.* $1=\([-0-9.]*\).*/\1/p" "$2" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}
row() { printf '%-44s %10s %14s   %s\n' "$1" "$2" "$3" "$4"; }
seconds() { awk -v s="$1" 'BEGIN { printf "%.3f s", s }'; }
ratio() { awk -v a="$1" -v b="$2" -v goal="$3" 'BEGIN { printf "%.2f%s", a / b, goal == "" ? "" : " (goal " goal ")" }'; }

start_beside python3 "$top/tools/account-service/account_service.py" --port 0 --user demo:demo \
  --port-file "$state/port" >"$state/account.log"
account_port=$port

# The download: the grid lists one key from the listing server; the object server answers it.
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$state/object"
start_beside python3 "$here/../download/object_server.py" --port-file "$state/port" --file "$state/object"
object_port=$port
start_server python3 "$here/../catalogue/listing_server.py" --keys 1 --bucket bench --folder db \
  --port-file "$state/port"
quietly "$bench" download "$state/work" "$account_port" "$port" "$object_port" "$((size_mib * 1024 * 1024))" "$runs" |
  tee "$state/download" | sed 's/^/  /'
stop_server
rm -f "$state/object"

# start_ups <platform>: STARTS starts of the window, each in a process of its own; their lines go to
# $state/start-up.<platform>.
start_ups() {
  local launch=() run
  [ "$1" = offscreen ] || launch=(env QT_QPA_PLATFORM="$1" xvfb-run -a -s "-screen 0 1920x1080x24")
  for run in $(seq 1 "$starts"); do
    quietly "${launch[@]}" "$bench" start-up "$state/work" "$account_port" "$port" "$keys"
  done | tee "$state/start-up.$1" | sed 's/^/  /'
}
platforms=(offscreen)
if command -v xvfb-run >/dev/null && [ -e "$(qtpaths6 --query QT_INSTALL_PLUGINS 2>/dev/null)/platforms/libqxcb.so" ]; then
  platforms+=(xcb)
fi
start_server python3 "$here/../catalogue/listing_server.py" --keys "$keys" --bucket bench --folder db \
  --port-file "$state/port"
for platform in "${platforms[@]}"; do start_ups "$platform"; done
stop_server

echo
echo "== download of $size_mib MiB from the loopback object server, median of $runs runs each"
row "" "ours" "peer" "ratio"
headless=$(median headless_s "$state/download")
on_thread=$(median headless_thread_s "$state/download")
window=$(median window_s "$state/download")
row "window (Download command) / headless" "$(seconds "$window")" "$(seconds "$headless")" \
  "$(ratio "$window" "$headless" "<= 1.05")"
row "window / headless on a thread of its own" "$(seconds "$window")" "$(seconds "$on_thread")" \
  "$(ratio "$window" "$on_thread" "<= 1.05")"
for platform in "${platforms[@]}"; do
  file="$state/start-up.$platform"
  echo
  echo "== start-up over $keys keys, $platform platform, median of $starts starts; times from the window's construction"
  row "" "ours" "limit/peer" "ratio"
  row "QApplication made (from main(), before it)" "$(seconds "$(median app_s "$file")")" "" ""
  row "window constructed" "$(seconds "$(median constructed_s "$file")")" "" ""
  visible=$(median visible_s "$file")
  row "window visible (first frame painted)" "$(seconds "$visible")" "0.500 s" "$(ratio "$visible" 0.5 "< 1")"
  row "start-up tick: the sign-in check starts" "$(seconds "$(median tick_s "$file")")" "" ""
  row "listing starts (sign-in accepted)" "$(seconds "$(median listing_s "$file")")" "" ""
  full=$(median full_s "$file")
  row "grid full (rows == $keys)" "$(seconds "$full")" "" \
    "$(awk -v f="$full" -v v="$visible" 'BEGIN { print (f > v ? "after the window: yes" : "after the window: no") }')"
  row "grid painted full" "$(seconds "$(median full_painted_s "$file")")" "" ""
  listing=$(awk -v f="$full" -v l="$(median listing_s "$file")" 'BEGIN { print f - l }')
  fill=$(median headless_fill_s "$file")
  row "window's listing / headless fill" "$(seconds "$listing")" "$(seconds "$fill")" "$(ratio "$listing" "$fill" "")"
  peak=$(median peak_bytes_per_key "$file")
  row "window's peak memory per backup" "$(awk -v p="$peak" 'BEGIN { printf "%.1f B", p }')" "90 B" \
    "$(ratio "$peak" 90 "<= 1")"
done

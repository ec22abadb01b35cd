# Shared by the benchmark scripts (sourced): a scratch folder $state that goes on exit, and one
# loopback server at a time, started in the background, whose port is awaited.

state=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$state"
}
trap cleanup EXIT

# start_server <command...>: runs the command, which writes its port to $state/port, and sets $port.
start_server() {
  rm -f "$state/port"
  "$@" &
  server_pid=$!
  for _ in $(seq 1 300); do
    [ -s "$state/port" ] && break
    sleep 0.1
  done
  [ -s "$state/port" ] || { echo "the server did not start: $*" >&2; exit 1; }
  port=$(cat "$state/port")
}

stop_server() {
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=
}

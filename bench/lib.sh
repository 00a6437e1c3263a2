# What the simulated-host benchmarks share: a temporary folder and a private session bus for
# the run, and a host serving one world file on it. Source it after setting `host` (the
# qor-host to run) and `name` (its bus name); it sets `work`, removed with the bus and the host
# on exit. Not a benchmark of its own.

work=$(mktemp -d)
bus_pid=""
host_pid=""
bench_cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
  rm -rf "$work"
}
trap bench_cleanup EXIT
{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address

# start_host WORLD: (re)starts the host on WORLD and waits until it owns its name.
start_host() {
  if [ -n "$host_pid" ]; then kill "$host_pid"; wait "$host_pid" 2>/dev/null || true; fi
  "$host" --world "$1" --bus-name "$name" &
  host_pid=$!
  for _ in $(seq 100); do busctl --user status "$name" >/dev/null 2>&1 && break; sleep 0.05; done
}

#!/usr/bin/env bash
# Measures `qorctl list` while a managed save runs on another client's behalf, against idle
# `qorctl list` in the same run, on the private libvirt daemon and test guest of tests/vm
# (QOR_VM_GUEST picks the guest). Target: the median during a save at most 1.2× the idle
# median + 5 ms. Not a test: run it by hand.
#
#   bash bench/save_latency.sh [saves]        (default 5 saves; idle: 30 lists)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
saves=${1:-5}
build=${QOR_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qorctl qor-host >/dev/null
bin="$build/Qor.app/Contents/MacOS/qorctl"
host="$build/Qor.app/Contents/MacOS/qor-host"
name=org.qor.Qor
# shellcheck source=../tests/vm/lib.sh
source "$root/tests/vm/lib.sh"

work=$(mktemp -d /tmp/qor-bench-save.XXXXXX)
bus_pid="" host_pid=""
cleanup() {
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  qorvm_daemon_stop || true
  rm -rf "$work"
}
trap cleanup EXIT
qorvm_daemon_start "$work" >/dev/null
qorvm_define vm1
qorvm_define vm2 52:54:00:51:00:02
qorvm_virsh start vm1 >/dev/null
qorvm_wait_agent vm1 "$QORVM_BOOT_WAIT"

{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address
"$host" --backend libvirt --connect "$QORVM_URI" --bus-name "$name" &
host_pid=$!
for _ in $(seq 100); do busctl --user status "$name" >/dev/null 2>&1 && break; sleep 0.05; done

ms() { date +%s%N | awk '{ printf "%.3f", $1 / 1e6 }'; }
one_list() {
  local t0 t1
  t0=$(ms)
  "$bin" list >/dev/null
  t1=$(ms)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for _ in $(seq 30); do one_list; sleep 0.02; done >"$work/idle"
during=$work/during
: >"$during"
for _ in $(seq "$saves"); do
  "$bin" suspend -s vm1 >/dev/null &
  saver=$!
  while kill -0 "$saver" 2>/dev/null; do one_list >>"$during"; done
  wait "$saver"
  "$bin" start vm1 >/dev/null
  qorvm_wait_agent vm1 "$QORVM_BOOT_WAIT"
done
idle=$(median <"$work/idle")
busy=$(median <"$during")
awk -v i="$idle" -v b="$busy" -v n="$(wc -l <"$during")" -v s="$saves" 'BEGIN {
  printf "| list, idle (median of 30) | %.2f ms |\n", i
  printf "| list during a managed save (median of %d in %d saves) | %.2f ms |\n", n, s, b
  printf "| ratio | %.2fx (target: at most 1.2x idle + 5 ms = %.2f ms: %s) |\n", b / i, 1.2 * i + 5, (b <= 1.2 * i + 5) ? "met" : "missed"
}'

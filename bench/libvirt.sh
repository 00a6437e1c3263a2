#!/usr/bin/env bash
# Measures qorctl against qor-host's libvirt backend (with hyperfine), on the private libvirt
# daemon of tests/vm, against the floor in the same run: `virsh domstate` for one machine's
# status, and a bare program making the host's libvirt calls for a list (libvirt_list) of 50
# defined machines. Each pair twice: run back to back (reads within 100 ms share the host's
# look at libvirt), and with a pause of 150 ms before each run (every run asks libvirt afresh).
# Not a test: run it by hand.
#
#   bash bench/libvirt.sh [runs]        (default 20 runs per measurement)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-20}
build=${QOR_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qorctl qor-host libvirt_list >/dev/null
bin="$build/Qor.app/Contents/MacOS/qorctl"
host="$build/Qor.app/Contents/MacOS/qor-host"
floor="$build/bench/libvirt_list"
name=org.qor.Qor
# shellcheck source=../tests/vm/lib.sh
source "$root/tests/vm/lib.sh"

work=$(mktemp -d /tmp/qor-bench-libvirt.XXXXXX)
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
# 49 more, defined only (never started), sharing vm1's disk.
for i in $(seq -w 2 50); do
  qorvm_xml "machine-$i" "$QORVM_DIR/pool/vm1.qcow2" "52:54:00:52:00:$(printf %02x "$((10#$i))")" \
    >"$work/m.xml"
  qorvm_virsh define "$work/m.xml" >/dev/null
done

{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address
"$host" --backend libvirt --connect "$QORVM_URI" --bus-name "$name" &
host_pid=$!
for _ in $(seq 100); do busctl --user status "$name" >/dev/null 2>&1 && break; sleep 0.05; done
[ "$("$bin" list | wc -l)" = 51 ] || { echo "the host does not list 50 machines" >&2; exit 1; }

median() {
  local json="$work/timing.json"
  hyperfine -N --warmup 2 --runs "$runs" "${@:2}" --export-json "$json" "$1" >/dev/null 2>&1
  grep -m1 '"median"' "$json" | sed 's/.*: *//; s/,//' | awk '{printf "%.2f", $1 * 1000}'
}
row() {
  local what=$1 ours=$2 theirs=$3
  awk -v w="$what" -v a="$ours" -v b="$theirs" \
    'BEGIN { printf "| %s | %.2f ms | %.2f ms | %.2fx |\n", w, a, b, a / b }'
}
uri=$QORVM_URI
echo "| benchmark | qorctl | floor | ratio |"
echo "|---|---|---|---|"
row "status vs virsh domstate, back to back" "$(median "$bin status vm1")" \
  "$(median "virsh -c $uri domstate vm1")"
row "status vs virsh domstate, 150 ms apart" "$(median "$bin status vm1" --prepare 'sleep 0.15')" \
  "$(median "virsh -c $uri domstate vm1" --prepare 'sleep 0.15')"
row "list of 50 vs libvirt_list, back to back" "$(median "$bin list")" "$(median "$floor $uri")"
row "list of 50 vs libvirt_list, 150 ms apart" "$(median "$bin list" --prepare 'sleep 0.15')" \
  "$(median "$floor $uri" --prepare 'sleep 0.15')"

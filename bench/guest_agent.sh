#!/usr/bin/env bash
# Measures qorctl's guest operations on a real machine (the test guest of tests/vm, under QEMU
# without KVM, through qor-host's libvirt backend) against a bare program making the same agent
# calls through libvirt (bench/agent_floor), in one run on the same guest. Not a test: run it
# by hand; it starts and stops its own libvirt daemon, guest, bus and host.
#
#   bash bench/guest_agent.sh [runs]        (default 7 runs per measurement)
#
# QOR_BENCH_BASELINE_HOST=PATH runs another qor-host (an earlier build) on a bus of its own
# beside this one, and measures the transfers through it too, in the same run.
# QOR_BENCH_4K=no leaves out the floors of 4 KiB pieces (2,049 agent calls each way, most of
# the run's time).
#
# QOR_VM_GUEST=debian runs it on the Debian guest (tests/vm/README.md), which takes a minute or
# two to boot. The transfers are measured against two floors: reads and writes of the
# client's own piece (4 KiB), and the biggest pieces the host uses with the agent (reads of
# 1 MiB, writes of 64 KiB), the fastest a transfer through the agent goes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
build=${QOR_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qorctl qor-host agent_floor >/dev/null
bin="$build/Qor.app/Contents/MacOS/qorctl"
host="$build/Qor.app/Contents/MacOS/qor-host"
floor="$build/bench/agent_floor"
name=org.qor.Qor
vm=bench

# shellcheck source=../tests/vm/lib.sh
source "$root/tests/vm/lib.sh"
work=$(mktemp -d /tmp/qor-bench-agent.XXXXXX)
bus_pid='' host_pid='' base_bus_pid='' base_host_pid=''
cleanup() {
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  [ -z "$base_host_pid" ] || kill "$base_host_pid" 2>/dev/null || true
  [ -z "$base_bus_pid" ] || kill "$base_bus_pid" 2>/dev/null || true
  qorvm_daemon_stop || true
  rm -rf "$work"
}
trap cleanup EXIT
qorvm_daemon_start "$work" >/dev/null
qorvm_define "$vm" 52:54:00:51:00:21
qorvm_virsh start "$vm" >/dev/null
qorvm_wait_agent "$vm" "$QORVM_BOOT_WAIT"
{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address
"$host" --backend libvirt --connect "$QORVM_URI" --bus-name "$name" >/dev/null 2>&1 &
host_pid=$!
for _ in $(seq 100); do busctl --user status "$name" >/dev/null 2>&1 && break; sleep 0.1; done
base=${QOR_BENCH_BASELINE_HOST:-}
if [ -n "$base" ]; then
  { read -r base_address; read -r base_bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  DBUS_SESSION_BUS_ADDRESS=$base_address "$base" --backend libvirt --connect "$QORVM_URI" \
    --bus-name "$name" >/dev/null 2>&1 &
  base_host_pid=$!
  for _ in $(seq 100); do
    DBUS_SESSION_BUS_ADDRESS=$base_address busctl --user status "$name" >/dev/null 2>&1 && break
    sleep 0.1
  done
fi

mib=$((1024 * 1024))
qorvm_exec "$vm" /bin/sh -c "head -c $((8 * mib)) /dev/urandom >/tmp/8m; head -c $mib /tmp/8m >/tmp/1m"
head -c $((8 * mib)) /dev/urandom >"$work/8m"
head -c $mib "$work/8m" >"$work/1m"

median() {
  local json="$work/timing.json" shell=(-N)
  case "$1" in *"<"* | *">"*) shell=() ;; esac
  hyperfine "${shell[@]}" --warmup 1 --runs "$runs" --export-json "$json" "$1" >/dev/null 2>&1
  jq '.results[0].median * 1000' "$json" | awk '{printf "%.1f", $1}'
}
report() {  # label, qorctl ms, floor ms, target
  awk -v l="$1" -v q="$2" -v f="$3" -v t="$4" \
    'BEGIN {printf "%-38s %10.1f ms %10.1f ms %7.2fx  (target %s)\n", l, q, f, q / f, t}'
}
# The same for a transfer, with the throughput's ratio (the floor's time over qorctl's).
report_throughput() {  # label, qorctl ms, floor ms, target
  awk -v l="$1" -v q="$2" -v f="$3" -v t="$4" \
    'BEGIN {printf "%-38s %10.1f ms %10.1f ms %7.2fx  throughput %.2fx (target %s)\n",
            l, q, f, q / f, f / q, t}'
}
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

uri=$QORVM_URI
echo "guest: $QORVM_GUEST, load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-38s %13s %13s %8s\n' "benchmark (median of $runs)" "qorctl" "floor" "ratio"
c=$(median "$floor $uri $vm connect")
q=$(median "$bin exec $vm --cmd /bin/true")
f=$(median "$floor $uri $vm exec")
report "exec /bin/true vs exec + exec-status" "$q" "$f" "<= 1.3x"
printf '  the floor opens a libvirt connection each run: %s ms of it\n' "$c"
q=$(median "$bin file pull $vm /tmp/8m > /dev/null")
if [ "${QOR_BENCH_4K:-yes}" != no ]; then
  f=$(median "$floor $uri $vm read /tmp/8m")
  report "pull 8 MiB vs 2049 4 KiB reads" "$q" "$f" "time <= 1.25x (throughput >= 0.8x)"
fi
f=$(median "$floor $uri $vm read /tmp/8m $mib")
report_throughput "pull 8 MiB vs 9 1 MiB reads" "$q" "$f" ">= 0.9x"
if [ -n "$base" ]; then
  b=$(median "env DBUS_SESSION_BUS_ADDRESS=$base_address $bin file pull $vm /tmp/8m > /dev/null")
  report_throughput "  the baseline host: pull 8 MiB" "$b" "$f" ">= 0.9x"
fi
q=$(median "$bin file push $vm /tmp/up < $work/8m")
if [ "${QOR_BENCH_4K:-yes}" != no ]; then
  f=$(median "$floor $uri $vm write /tmp/up2 2048")
  report "push 8 MiB vs 2049 4 KiB writes" "$q" "$f" "time <= 1.25x (throughput >= 0.8x)"
fi
f=$(median "$floor $uri $vm write /tmp/up2 128 65536")
report_throughput "push 8 MiB vs 129 64 KiB writes" "$q" "$f" ">= 0.9x"
if [ -n "$base" ]; then
  b=$(median "env DBUS_SESSION_BUS_ADDRESS=$base_address $bin file push $vm /tmp/up < $work/8m")
  report_throughput "  the baseline host: push 8 MiB" "$b" "$f" ">= 0.9x"
fi
echo "qorctl's peak memory (KiB): pull 1 MiB $(peak "$bin" file pull "$vm" /tmp/1m)," \
  "pull 8 MiB $(peak "$bin" file pull "$vm" /tmp/8m)," \
  "push 1 MiB $(peak "$bin" file push "$vm" /tmp/up <"$work/1m")," \
  "push 8 MiB $(peak "$bin" file push "$vm" /tmp/up <"$work/8m")"
echo "qor-host's peak memory (KiB): $(awk '/VmHWM/ {print $2}' "/proc/$host_pid/status")"

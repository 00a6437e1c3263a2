#!/usr/bin/env bash
# Measures qorctl (with hyperfine) against the platform floor, on this machine, in the same run: the same D-Bus
# round trips made by busctl or by a bare sd-bus client (raw_roundtrips) against the same
# simulated host. Prints medians of several runs and the ratios. Not a test: run it by hand.
#
#   bash bench/run.sh [runs]        (default 7 runs per measurement)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-7}
build=${QOR_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qorctl qor-host raw_roundtrips >/dev/null
bin="$build/Qor.app/Contents/MacOS/qorctl"
host="$build/Qor.app/Contents/MacOS/qor-host"
raw="$build/bench/raw_roundtrips"
name=org.qor.Qor

source "$root/bench/lib.sh"

# Two worlds: a small one (the host's default) for the one-shot commands, and one of 1,000
# machines, the first running with a 64 MiB file in its guest, for the list and the transfers.
first=00000000-0000-4000-8000-000000000000
vm_path=/org/qor/Scripting1/vm/id/00000000_2d0000_2d4000_2d8000_2d000000000000
{
  printf '{"machines": ['
  for i in $(seq 0 999); do
    [ "$i" -gt 0 ] && printf ','
    printf '{"id": "00000000-0000-4000-8000-%012d", "name": "machine %d", "status": "StSc"}' "$i" "$i"
  done
  printf '], "usbDevices": [], "windows": []}\n'
} >"$work/big-world.json"
mkdir -p "$work/guests/$first"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/guests/$first/big.bin"


# Median wall time in milliseconds, measured by hyperfine (which also subtracts the cost of the
# shell when the command needs one for a redirection).
median() {
  local json="$work/timing.json" shell=(-N)
  case "$1" in *"<"*) shell=() ;; esac
  hyperfine "${shell[@]}" --warmup 1 --runs "$runs" --export-json "$json" "$1" >/dev/null 2>&1
  grep -m1 '"median"' "$json" | sed 's/.*: *//; s/,//' | awk '{printf "%.2f", $1 * 1000}'
}
host_cpu() { awk '{print $14 + $15}' "/proc/$host_pid/stat"; }
report() {  # label, qorctl ms, floor ms, target
  awk -v l="$1" -v q="$2" -v f="$3" -v t="$4" \
    'BEGIN {printf "%-34s %10.2f ms %10.2f ms %7.2fx  (target <= %s)\n", l, q, f, q / f, t}'
}

printf '%-34s %13s %13s %8s\n' "benchmark (median of $runs)" "qorctl" "floor" "ratio"
start_host "$work/small-world.json"  # created from the default world
debian=/org/qor/Scripting1/vm/id/5D3E2A1C_2d7B4F_2d4E8A_2d9C61_2d2F0B8D4A1E01
q=$(median "$bin status Debian")
f=$(median "busctl --user get-property $name $debian org.qor.Scripting1.VirtualMachine Status")
report "status vs busctl get-property" "$q" "$f" 1.0
q=$(median "$bin exec Debian --cmd true")
printf '%-34s %10.2f ms\n' "exec round trip (true)" "$q"

start_host "$work/big-world.json"

before=$(host_cpu)
q=$(median "$bin list")
f=$(median "$raw list $name")
report "list of 1,000 vs 3,001 round trips" "$q" "$f" 1.2
echo "  host CPU during list runs: $(( $(host_cpu) - before )) ticks"

before=$(host_cpu)
q=$(median "$bin file pull $first big.bin")
f=$(median "$raw read $name $vm_path big.bin")
report "pull 64 MiB vs raw 4 KiB reads" "$q" "$f" 1.2
echo "  host CPU during pull runs: $(( $(host_cpu) - before )) ticks"

before=$(host_cpu)
q=$(median "$bin file push $first up.bin < $work/guests/$first/big.bin")
f=$(median "$raw write $name $vm_path up2.bin 16384")
report "push 64 MiB vs raw 4 KiB writes" "$q" "$f" 1.2
echo "  host CPU during push runs: $(( $(host_cpu) - before )) ticks"


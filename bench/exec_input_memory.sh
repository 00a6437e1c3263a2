#!/usr/bin/env bash
# Measures qorctl's peak memory (maximum resident set, /usr/bin/time's %M) for `exec --input`
# of a large input, from a file and from a pipe, against the simulated host on a private bus.
# Target: at most 2.5 times the input plus 16 MiB (the input once as bytes, once as base64 in
# the request). Not a test: run it by hand.
#
#   bash bench/exec_input_memory.sh [bytes]      (default 100,000,000)
# QORCTL=/path/to/qorctl measures another build of qorctl against the same host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bytes=${1:-100000000}
build=${QOR_BUILD_DIR:-$root/build}
cmake --build "$build" --target qorctl qor-host >/dev/null
bin=${QORCTL:-$build/Qor.app/Contents/MacOS/qorctl}
host="$build/Qor.app/Contents/MacOS/qor-host"
name=org.qor.Qor

source "$root/bench/lib.sh"

id=00000000-0000-4000-8000-000000000001
printf '{"machines": [{"id": "%s", "name": "bench", "status": "StSc"}], "usbDevices": [], "windows": []}\n' \
  "$id" >"$work/world.json"
start_host "$work/world.json"
head -c "$bytes" /dev/urandom >"$work/input.bin"

target_kib=$(((bytes * 5 / 2 + 16 * 1024 * 1024) / 1024))
report() {
  local label=$1 peak
  peak=$(tail -n 1 "$work/peak")
  [ "$(cat "$work/out")" = "$bytes" ] || { echo "$label: the guest counted $(cat "$work/out") bytes" >&2; exit 1; }
  awk -v l="$label" -v p="$peak" -v b="$bytes" -v t="$target_kib" 'BEGIN {
    printf "%-5s peak %6.1f MiB = %.2f x the input   (target <= %.1f MiB: %s)\n",
      l, p / 1024, p * 1024 / b, t / 1024, (p <= t ? "met" : "MISSED")
  }'
}
printf 'exec --input of %s bytes (%s)\n' "$bytes" "$bin"
/usr/bin/time -f %M -o "$work/peak" "$bin" exec "$id" --input --cmd wc -c <"$work/input.bin" >"$work/out"
report file
cat "$work/input.bin" | /usr/bin/time -f %M -o "$work/peak" "$bin" exec "$id" --input --cmd wc -c >"$work/out"
report pipe

#!/usr/bin/env bash
# Measures the guest QOR_VM_GUEST names (busybox or debian) on the private daemon, straight
# through libvirt (no qorctl): boot to the agent's first guest-ping answer, how shutdowns end,
# and the agent's limits (the largest guest-exec input-data, captured output, guest-file-write
# piece and guest-file-read count, each bisected, and what happens just past each). Prints the
# figures; README.md keeps them. Not a test: it takes several minutes and checks nothing.
#
#   measure.sh [boot|shutdown|limits]...      (all three when none is given)
#
# QORVM_MEASURE_RUNS: boots for "boot" (5), runs of each shutdown mode for "shutdown" (3).
# Requests over 128 KiB do not fit in one command-line argument, so every agent command goes to
# virsh on its standard input. Bounded: QORVM_MEASURE_LIMIT seconds (1500) in all.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
qorvm_require qemu-system-x86_64 virsh jq

parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(boot shutdown limits)
work=$(mktemp -d /tmp/qorvm-measure.XXXXXX)
watchdog=''
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  qorvm_daemon_stop || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
qorvm_watchdog "${QORVM_MEASURE_LIMIT:-1500}"
qorvm_daemon_start "$work" >/dev/null
qorvm_define m1
echo "guest: $QORVM_GUEST ($(sed -n 1p "$work/guest/versions"))"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
stats() { # min/median/max of the numbers given
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    printf "min %.2f median %.2f max %.2f (n=%d)", v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[NR], NR }'
}

# One agent command of any size: virsh reads it from its standard input. Reply in $reply,
# error text in $error, 0 when the agent answered.
agent() {
  local json=$1 seconds=${2:-10}
  printf "qemu-agent-command --timeout %s m1 '%s'\n" "$seconds" "$json" >"$work/cmd"
  timeout $((seconds + 30)) virsh -q -c "$QORVM_URI" <"$work/cmd" >"$work/reply" 2>"$work/error" || true
  reply=$(grep '^{' "$work/reply" | tail -n 1 || true)
  error=$(tr '\n' ' ' <"$work/error")
  [ -z "$error" ] && [ -n "$reply" ]
}
# Seconds until guest-ping answers again (at most 90).
ping_after() {
  local t0 deadline=$((SECONDS + 90))
  t0=$(now)
  while [ $SECONDS -lt $deadline ]; do
    if qorvm_agent m1 '{"execute":"guest-ping"}' 2 >/dev/null 2>&1; then since "$t0"; return; fi
    sleep 0.2
  done
  echo "never (90 s)"
}
boot() {
  local t0
  t0=$(now)
  qorvm_virsh start m1 >/dev/null
  qorvm_wait_agent m1 180 >/dev/null
  since "$t0"
}
wait_off() { # seconds until m1 is shut off (at most 120), from $1
  for _ in $(seq 1200); do
    [ "$(qorvm_virsh domstate m1 2>/dev/null)" = "shut off" ] && { since "$1"; return; }
    sleep 0.1
  done
  echo "not off after 120 s"
}

measure_boot() {
  local times=() t i
  for i in $(seq "${QORVM_MEASURE_RUNS:-5}"); do
    t=$(boot)
    times+=("$t")
    echo "boot $i: agent answers after $t s"
    qorvm_virsh destroy m1 >/dev/null
  done
  echo "boot to guest-ping: $(stats "${times[@]}")"
}

# Each run boots (timed as in measure_boot), then shuts down by the agent or by ACPI.
measure_shutdown() {
  local mode t0 out i t times=()
  for mode in agent acpi; do
    for i in $(seq "${QORVM_MEASURE_RUNS:-3}"); do
      t=$(boot)
      times+=("$t")
      [ "$mode" != acpi ] || sleep 5   # a power button press mid-boot can be lost
      t0=$(now)
      out=$(qorvm_virsh shutdown --mode "$mode" m1 2>&1) || true
      echo "boot $t s; shutdown --mode $mode ($i): virsh returned after $(since "$t0") s (${out:-ok}), shut off after $(wait_off "$t0") s, reason: $(qorvm_virsh domstate --reason m1)"
    done
  done
  echo "boot to guest-ping: $(stats "${times[@]}")"
}

# The largest N for which "probe N" succeeds, between a good LO and a bad HI, to STEP bytes.
bisect() {
  local lo=$1 hi=$2 step=$3 probe=$4 mid
  while [ $((hi - lo)) -gt "$step" ]; do
    mid=$(((lo + hi) / 2))
    if "$probe" "$mid"; then lo=$mid; else hi=$mid; fi
  done
  echo "$lo"
}
b64() { head -c "$1" /dev/urandom | base64 -w0; }
exec_result() { # waits for guest-exec PID $1; its status reply in $reply
  local i
  for i in $(seq 200); do
    agent "{\"execute\":\"guest-exec-status\",\"arguments\":{\"pid\":$1}}" 30 || return 1
    [ "$(jq -r .return.exited <<<"$reply")" = true ] && return 0
    sleep 0.1
  done
  return 1
}
probe_input() {
  local n=$1 pid
  printf '{"execute":"guest-exec","arguments":{"path":"/bin/cat","input-data":"%s","capture-output":true}}' \
    "$(b64 "$n")" >"$work/json"
  if agent "$(cat "$work/json")" 10 && pid=$(jq -r .return.pid <<<"$reply") && exec_result "$pid" &&
    [ "$(jq -r '.return["out-data"]' <<<"$reply" | base64 -d | wc -c)" -eq "$n" ]; then
    echo >&2 "  input $n bytes (request $(wc -c <"$work/json")): ok"
    return 0
  fi
  echo >&2 "  input $n bytes (request $(wc -c <"$work/json")): ${error:-$reply}; agent back after $(ping_after) s"
  return 1
}
probe_output() {
  local n=$1 pid
  if agent "{\"execute\":\"guest-exec\",\"arguments\":{\"path\":\"/bin/sh\",\"arg\":[\"-c\",\"head -c $n /dev/zero\"],\"capture-output\":true}}" 10 &&
    pid=$(jq -r .return.pid <<<"$reply") && exec_result "$pid"; then
    echo >&2 "  output $n bytes: got $(jq -r '.return["out-data"]' <<<"$reply" | base64 -d | wc -c), out-truncated $(jq -r '.return["out-truncated"]' <<<"$reply")"
    [ "$(jq -r '.return["out-data"]' <<<"$reply" | base64 -d | wc -c)" -eq "$n" ]
    return
  fi
  echo >&2 "  output $n bytes: ${error:-$reply}; agent back after $(ping_after) s"
  return 1
}
open_file() { # path mode; handle in $handle
  agent "{\"execute\":\"guest-file-open\",\"arguments\":{\"path\":\"$1\",\"mode\":\"$2\"}}" 10 ||
    { echo >&2 "  open $1: $error"; return 1; }
  handle=$(jq -r .return <<<"$reply")
}
close_file() { agent "{\"execute\":\"guest-file-close\",\"arguments\":{\"handle\":$handle}}" 10 || true; }
probe_write() {
  local n=$1 t0
  open_file /tmp/measure-write w || return 1
  printf '{"execute":"guest-file-write","arguments":{"handle":%s,"buf-b64":"%s"}}' "$handle" "$(b64 "$n")" >"$work/json"
  t0=$(now)
  if agent "$(cat "$work/json")" 10 && [ "$(jq -r .return.count <<<"$reply")" -eq "$n" ]; then
    echo >&2 "  write $n bytes (request $(wc -c <"$work/json")): ok in $(since "$t0") s"
    close_file
    return 0
  fi
  echo >&2 "  write $n bytes (request $(wc -c <"$work/json")): after $(since "$t0") s: ${error:-$reply}; agent back after $(ping_after) s"
  close_file
  return 1
}
probe_read() {
  local n=$1 t0
  open_file /tmp/measure-read r || return 1
  t0=$(now)
  if agent "{\"execute\":\"guest-file-read\",\"arguments\":{\"handle\":$handle,\"count\":$n}}" 30 &&
    [ "$(jq -r .return.count <<<"$reply")" -eq "$n" ]; then
    echo >&2 "  read $n bytes: ok in $(since "$t0") s"
    close_file
    return 0
  fi
  echo >&2 "  read $n bytes: after $(since "$t0") s: ${error:-$reply}; agent back after $(ping_after) s"
  close_file
  return 1
}

measure_limits() {
  boot >/dev/null
  echo "largest guest-exec input-data (raw bytes):"
  echo "  => $(bisect 100000 400000 2048 probe_input)"
  echo "largest captured output (bytes):"
  echo "  => $(bisect 1000000 4000000 16384 probe_output)"
  echo "largest guest-file-write piece (raw bytes):"
  echo "  => $(bisect 100000 400000 2048 probe_write)"
  agent '{"execute":"guest-exec","arguments":{"path":"/bin/sh","arg":["-c","head -c 8388608 /dev/urandom >/tmp/measure-read"]}}' 10
  sleep 2
  echo "largest guest-file-read count:"
  echo "  => $(bisect 1000000 4000000 16384 probe_read)"
  echo "output of 8 MiB (a reply over libvirt's 10 MiB):"
  probe_output 8388608 || true
  echo "  the agent afterwards: $(qorvm_agent m1 '{"execute":"guest-ping"}' 5 2>&1 | tr '\n' ' ')"
  # Does the agent come back when it restarts inside the guest (the unit's Restart=always)?
  qorvm_virsh reboot --mode acpi m1 >/dev/null 2>&1 || true
  echo "  after an ACPI reboot, the agent answers after $(ping_after) s"
  qorvm_virsh destroy m1 >/dev/null
}

for p in "${parts[@]}"; do
  case $p in
    boot) measure_boot ;;
    shutdown) measure_shutdown ;;
    limits) measure_limits ;;
    *) echo "unknown part $p" >&2; exit 64 ;;
  esac
done

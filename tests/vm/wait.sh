#!/usr/bin/env bash
# qorctl wait on a real machine, through qor-host's libvirt backend, the test guest's agent and
# a private bus: start, then wait, then exec works the first time; wait --for ip; a wait for a
# state reached from inside the guest (stop --request); the errors at once and the timeout.
# Prints the time from the agent's first answer (pinged alongside, through libvirt) to wait's
# return. Exits 77 (skipped) without QEMU or libvirt; gives up after QORVM_WAIT_LIMIT seconds
# (300).
#
#   wait.sh BUNDLE       (BUNDLE: the built Qor.app)
set -euo pipefail

bundle=${1:?usage: wait.sh BUNDLE}
qorctl=$bundle/Contents/MacOS/qorctl
host=$bundle/Contents/MacOS/qor-host

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
qorvm_require qemu-system-x86_64 virsh jq dbus-daemon busctl

work=$(mktemp -d /tmp/qorvm-wait.XXXXXX)
watchdog='' bus_pid='' host_pid='' pinger=''
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  [ -z "$pinger" ] || kill "$pinger" 2>/dev/null || true
  if [ $status -ne 0 ]; then
    echo "--- qor-host's output:" >&2
    tail -n 20 "$work/host.log" >&2 2>/dev/null || true
  fi
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  qorvm_daemon_stop || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
qorvm_watchdog "${QORVM_WAIT_LIMIT:-$(qorvm_limit 300 2)}"

now() { date +%s.%N; }
# qorctl, bounded; status in $status, stdout in $out, stderr in $work/err.
q() {
  set +e
  out=$(timeout $((QORVM_BOOT_WAIT + 90)) "$qorctl" "$@" 2>"$work/err")
  status=$?
  set -e
}
said() { grep -q -- "$1" "$work/err" || fail "$2: stderr lacks '$1': $(cat "$work/err")"; }
requests() { grep -c '"member": "WaitFor"' "$work/requests.jsonl" || true; }

qorvm_daemon_start "$work" >/dev/null || fail "the daemon or the guest image"
vm=waiter
qorvm_define "$vm" 52:54:00:51:00:21 || fail "define $vm"

bus_name=$(sed -n '/CFBundleIdentifier/{n;s/.*<string>\(.*\)<\/string>.*/\1/p}' \
  "$bundle/Contents/Info.plist")
{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address
"$host" --backend libvirt --connect "$QORVM_URI" --bus-name "$bus_name" \
  --log "$work/requests.jsonl" >"$work/host.log" 2>&1 &
host_pid=$!
for _ in $(seq 100); do busctl --user status "$bus_name" >/dev/null 2>&1 && break; sleep 0.1; done

q wait "$vm"
[ $status -eq 1 ] || fail "wait for the agent of a stopped machine ended with $status"
said "is stopped" "wait on a stopped machine"
q wait --for stopped --timeout 0 "$vm"
[ $status -eq 0 ] || fail "wait --for stopped on a stopped machine: $status $(cat "$work/err")"
ok "a stopped machine: wait for its agent fails at once; for stopped holds at once"

# The agent's first answer, seen through libvirt alongside the wait: one ping every 100 ms.
( while :; do
    if qorvm_virsh qemu-agent-command --timeout 1 "$vm" '{"execute":"guest-ping"}' >/dev/null 2>&1; then
      now >"$work/first-answer"
      exit 0
    fi
    sleep 0.1
  done ) &
pinger=$!
q start "$vm"
[ $status -eq 0 ] || fail "start: $(cat "$work/err")"
started=$(now)
: >"$work/requests.jsonl"
q wait "$vm" --timeout "$QORVM_BOOT_WAIT"
returned=$(now)
[ $status -eq 0 ] || fail "wait after start ended with $status: $(cat "$work/err")"
q exec "$vm" --cmd /bin/echo first
[ $status -eq 0 ] && [ "$out" = first ] || fail "exec right after wait: $status '$out' $(cat "$work/err")"
wait "$pinger" || true
pinger=''
waited=$(awk -v a="$returned" -v b="$started" 'BEGIN { printf "%.2f", a - b }')
lag=$(awk -v a="$returned" -v b="$(cat "$work/first-answer")" 'BEGIN { printf "%.2f", a - b }')
sent=$(requests)
ok "start, wait, exec: the first exec works; waited ${waited} s with $sent requests ($(awk -v n="$sent" -v t="$waited" 'BEGIN { printf "%.2f", n / t }') a second); wait returned ${lag} s after the agent's first answer (pinged every 0.1 s)"

q wait --for ip "$vm" --timeout 60
[ $status -eq 0 ] || fail "wait --for ip: $status $(cat "$work/err")"
q ip-address --format json "$vm"
[ "$(jq -c . <<<"$out")" = '["10.0.2.15"]' ] || fail "ip-address --format json: $out"
q list --format json
[ "$(jq -r '.[0].status' <<<"$out")" = started ] || fail "list --format json: $out"
q wait --for paused --timeout 1 "$vm"
[ $status -eq 124 ] || fail "wait --for paused on a running machine ended with $status"
said "was not paused within 1 second" "the timeout"
ok "wait --for ip; the JSON documents; a timeout is 124"

q stop --request "$vm"
[ $status -eq 0 ] || fail "stop --request: $(cat "$work/err")"
asked=$(now)
q wait --for stopped "$vm" --timeout "$QORVM_BOOT_WAIT"
[ $status -eq 0 ] || fail "wait --for stopped after stop --request: $status $(cat "$work/err")"
[ "$(qorvm_virsh domstate "$vm")" = "shut off" ] || fail "the guest is not off"
ok "stop --request, then wait --for stopped: off after $(awk -v a="$(now)" -v b="$asked" 'BEGIN { printf "%.2f", a - b }') s"

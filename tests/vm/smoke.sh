#!/usr/bin/env bash
# Smoke test of the real-machine fixture: a private libvirt daemon, the tiny guest booted under
# QEMU (TCG), and its agent through libvirt: ping, exec with captured output, a file round trip,
# the interfaces, the serial console, managed save and restore, shutdown by ACPI and by the
# agent, destroy and undefine. Prints the times it measured. Exits 77 (skipped) when QEMU or a
# libvirt daemon is not installed. Everything it starts it stops, on failure too; it gives up
# on its own after QORVM_SMOKE_LIMIT seconds (240) so that its cleanup always runs.
set -euo pipefail


here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
qorvm_require qemu-system-x86_64 virsh jq

work=$(mktemp -d /tmp/qorvm-smoke.XXXXXX)
watchdog=
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  if [ $status -ne 0 ] && [ -n "${QORVM_URI:-}" ]; then
    echo "--- the daemon's log:" >&2
    tail -n 20 "$work/log/"*.log >&2 2>/dev/null || true
    echo "--- the guest's QEMU log:" >&2
    tail -n 20 "$work/cache/libvirt/qemu/log/"*.log >&2 2>/dev/null || true
  fi
  qorvm_daemon_stop || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
qorvm_watchdog "${QORVM_SMOKE_LIMIT:-240}"

now() { echo "$EPOCHREALTIME"; }
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }'; }
figures=()
figure() { figures+=("$1: $2 s"); }

# Waits (bounded) until NAME's state is STATE.
wait_state() {
  local name=$1 state=$2 seconds=$3 deadline=$((SECONDS + $3))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(qorvm_virsh domstate "$name" 2>/dev/null)" = "$state" ] && return 0
    sleep 0.2
  done
  fail "$name is not '$state' after $seconds s (it is '$(qorvm_virsh domstate "$name" 2>&1)')"
}

boot() {
  local t
  t=$(now)
  qorvm_virsh start "$1" >/dev/null || fail "start $1"
  qorvm_wait_agent "$1" 60 || fail "no agent in $1"
  figure "$2" "$(since "$t")"
}

agent() { qorvm_agent "$vm" "$1" || fail "agent command $1"; }

total=$(now)
t=$(now)
qorvm_daemon_start "$work" >/dev/null || fail "the daemon or the guest image"
figure "daemon start and guest image" "$(since "$t")"
ok "daemon at $QORVM_URI"

vm=smoke
mac=52:54:00:51:00:07
qorvm_define "$vm" "$mac" || fail "define"
[ "$(qorvm_virsh domstate "$vm")" = "shut off" ] || fail "a defined guest is not shut off"
boot "$vm" "boot until the agent answers"
[ "$(qorvm_virsh domstate "$vm")" = running ] || fail "domstate is not running"
ok "booted; agent answers"

[ "$(agent '{"execute":"guest-ping"}')" = '{"return":{}}' ] || fail "guest-ping"

out=$(qorvm_exec "$vm" /bin/echo hi) || fail "guest-exec of echo"
[ "$out" = hi ] || fail "echo printed '$out'"
set +e
out=$(qorvm_exec "$vm" /bin/sh -c 'echo out; echo err >&2; exit 3' 2>"$work/err")
status=$?
set -e
[ $status -eq 3 ] && [ "$out" = out ] && [ "$(cat "$work/err")" = err ] ||
  fail "exit 3 with both streams: status $status, out '$out', err '$(cat "$work/err")'"
set +e
qorvm_exec "$vm" /bin/sh -c 'kill -KILL $$'
status=$?
set -e
[ $status -eq 137 ] || fail "a program killed by SIGKILL gave $status, not 128 + 9"
ok "guest-exec: output, error output, exit status, signal"

# A binary file round trip: 4097 random bytes through guest-file-write and guest-file-read.
head -c 4097 /dev/urandom >"$work/payload"
payload=$(base64 -w0 "$work/payload")
handle=$(agent '{"execute":"guest-file-open","arguments":{"path":"/tmp/payload","mode":"w"}}' |
  jq -r .return)
written=$(agent "{\"execute\":\"guest-file-write\",\"arguments\":{\"handle\":$handle,\"buf-b64\":\"$payload\"}}" |
  jq -r .return.count)
agent "{\"execute\":\"guest-file-close\",\"arguments\":{\"handle\":$handle}}" >/dev/null
[ "$written" = 4097 ] || fail "guest-file-write wrote $written bytes"
handle=$(agent '{"execute":"guest-file-open","arguments":{"path":"/tmp/payload","mode":"r"}}' |
  jq -r .return)
agent "{\"execute\":\"guest-file-read\",\"arguments\":{\"handle\":$handle,\"count\":8192}}" >"$work/read"
agent "{\"execute\":\"guest-file-close\",\"arguments\":{\"handle\":$handle}}" >/dev/null
[ "$(jq -r .return.count "$work/read")" = 4097 ] && [ "$(jq -r .return.eof "$work/read")" = true ] ||
  fail "guest-file-read: $(jq -c '.return | del(.["buf-b64"])' "$work/read")"
[ "$(jq -r '.return["buf-b64"]' "$work/read")" = "$payload" ] || fail "the file read back differs"
if qorvm_agent "$vm" "{\"execute\":\"guest-file-read\",\"arguments\":{\"handle\":$handle}}" \
  >/dev/null 2>&1; then
  fail "a closed handle can still be read"
fi
ok "guest-file-open/write/read/close: 4097 bytes round trip"

agent '{"execute":"guest-network-get-interfaces"}' >"$work/ifaces"
jq -e --arg mac "$mac" '.return[] | select(.["hardware-address"] == $mac)
  | .["ip-addresses"][] | select(.["ip-address"] == "10.0.2.15" and .prefix == 24)' \
  "$work/ifaces" >/dev/null || fail "10.0.2.15/24 on $mac not shown: $(cat "$work/ifaces")"
jq -e '[.return[]["ip-addresses"][]? | select(.["ip-address-type"] == "ipv6")] | length == 0' \
  "$work/ifaces" >/dev/null || fail "the guest has IPv6 addresses"
ok "guest-network-get-interfaces: 10.0.2.15/24 on $mac, no IPv6"

[ "$(qorvm_exec "$vm" /bin/cat /data/README)" = "qor test disk" ] || fail "/data is not mounted"
ok "the data disk is mounted at /data"

# The serial console: the pty virsh names answers a shell command.
pty=$(qorvm_virsh ttyconsole "$vm")
[ -c "$pty" ] || fail "ttyconsole names '$pty', not a terminal"
[ "$(qorvm_virsh dumpxml "$vm" | grep -c "<source path='$pty'/>")" -ge 1 ] ||
  fail "the running definition does not name $pty"
stty -F "$pty" raw -echo
exec 3<>"$pty"
# shellcheck disable=SC2016 # the guest's shell does the arithmetic
printf 'echo serial-$((6*7))\n' >&3
timeout 10 grep -a -m1 -q serial-42 <&3 || fail "no answer on the serial console $pty"
exec 3>&-
ok "serial console on $pty answers"

# Managed save keeps the guest's memory: a file in /tmp (RAM) survives.
qorvm_exec "$vm" /bin/sh -c 'echo before-save > /tmp/mark' || fail "writing /tmp/mark"
t=$(now)
qorvm_virsh managedsave "$vm" >/dev/null || fail "managedsave"
figure "managed save (256 MiB guest)" "$(since "$t")"
[ "$(qorvm_virsh domstate --reason "$vm")" = "shut off (saved)" ] ||
  fail "after managedsave: $(qorvm_virsh domstate --reason "$vm")"
grep -Eq '^Managed save: +yes' <<<"$(qorvm_virsh dominfo "$vm")" || fail "no managed save image"
t=$(now)
qorvm_virsh start "$vm" >/dev/null || fail "start from the saved state"
figure "restore from managed save" "$(since "$t")"
[ "$(qorvm_virsh domstate --reason "$vm")" = "running (restored)" ] ||
  fail "after restore: $(qorvm_virsh domstate --reason "$vm")"
qorvm_wait_agent "$vm" 20 || fail "no agent after restore"
figure "restore until the agent answers" "$(since "$t")"
[ "$(qorvm_exec "$vm" /bin/cat /tmp/mark)" = before-save ] || fail "/tmp/mark lost in save/restore"
grep -Eq '^Managed save: +no' <<<"$(qorvm_virsh dominfo "$vm")" || fail "the save image outlived the restore"
ok "managedsave and restore: /tmp/mark kept"

# Shutdown by the ACPI power button; what was written to /data is on the disk afterwards.
qorvm_exec "$vm" /bin/sh -c 'echo on-disk > /data/mark' || fail "writing /data/mark"
t=$(now)
qorvm_virsh shutdown --mode acpi "$vm" >/dev/null || fail "shutdown --mode acpi"
wait_state "$vm" "shut off" 30
figure "shutdown --mode acpi until shut off" "$(since "$t")"
ok "ACPI shutdown ends in shut off"

boot "$vm" "second boot until the agent answers"
[ "$(qorvm_exec "$vm" /bin/cat /data/mark)" = on-disk ] || fail "/data/mark lost after shutdown"
if qorvm_exec "$vm" /bin/cat /tmp/mark >/dev/null 2>&1; then
  fail "/tmp/mark survived a cold boot"
fi
t=$(now)
qorvm_virsh shutdown --mode agent "$vm" >/dev/null || fail "shutdown --mode agent"
wait_state "$vm" "shut off" 30
figure "shutdown --mode agent until shut off" "$(since "$t")"
ok "the disk keeps /data/mark across a cold boot; agent shutdown ends in shut off"

qorvm_virsh start "$vm" >/dev/null || fail "third start"
t=$(now)
qorvm_virsh destroy "$vm" >/dev/null || fail "destroy"
figure "destroy" "$(since "$t")"
[ "$(qorvm_virsh domstate "$vm")" = "shut off" ] || fail "destroy did not end in shut off"
qorvm_virsh undefine "$vm" >/dev/null || fail "undefine"
if qorvm_virsh domstate "$vm" >/dev/null 2>&1; then fail "$vm is still defined"; fi
[ -f "$work/pool/$vm.qcow2" ] || fail "undefine removed the disk"
ok "destroy and undefine (the disk stays)"

qorvm_daemon_stop
[ ! -e "$work/run/daemon.pid" ] || fail "the daemon's pid file is left"
QORVM_URI=
ok "daemon stopped"

figure "whole smoke test" "$(since "$total")"
printf '  %s\n' "${figures[@]}"
echo "smoke: every check passed"

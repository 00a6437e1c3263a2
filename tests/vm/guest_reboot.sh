#!/usr/bin/env bash
# File transfers open across a guest reboot, through qor-host's libvirt backend: the rebooted
# guest's agent counts its file handles from the start again, so a second client opening a file
# afterwards gets the number the first client's handle had. The first transfer (held up
# meanwhile: a reader that does not read, a writer that does not write) must then fail with the
# agent's restart as its reason, and the second client's file and transfer must be exact. Pull
# first, then push. Exits 77 (skipped) without QEMU or libvirt; everything it starts it stops;
# it gives up after QORVM_REBOOT_LIMIT seconds (240 on the busybox guest, more for a slower one:
# qorvm_limit). QOR_VM_GUEST picks the guest (lib.sh).
#
#   guest_reboot.sh BUNDLE       (BUNDLE: the built Qor.app)
set -euo pipefail

bundle=${1:?usage: guest_reboot.sh BUNDLE}
qorctl=$bundle/Contents/MacOS/qorctl
host=$bundle/Contents/MacOS/qor-host

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
qorvm_require qemu-system-x86_64 virsh jq dbus-daemon busctl sha256sum

work=$(mktemp -d /tmp/qorvm-reboot.XXXXXX)
watchdog='' bus_pid='' host_pid='' clients=()
cleanup() {
  local status=$? pid
  trap - EXIT INT TERM
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  if [ $status -ne 0 ]; then
    echo "--- qor-host's output:" >&2
    tail -n 20 "$work/host.log" >&2 2>/dev/null || true
  fi
  for pid in "${clients[@]}"; do kill "$pid" 2>/dev/null || true; done
  exec 3>&- 4>&- 5>&- 6>&- || true
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  qorvm_daemon_stop || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
# Two reboots and the first boot.
qorvm_watchdog "${QORVM_REBOOT_LIMIT:-$(qorvm_limit 240 3)}"

hash_of() { sha256sum | cut -d' ' -f1; }
guest_hash() { qorvm_exec "$vm" /bin/sh -c "sha256sum $1" | cut -d' ' -f1; }
# Agent file descriptors of qemu-ga in the guest that name PATH.
agent_fds() {
  # shellcheck disable=SC2016 # the guest's shell expands it
  qorvm_exec "$vm" /bin/sh -c 'ls -l /proc/$(pidof qemu-ga)/fd' | grep -c -- "-> $1\$" || true
}
# Waits (bounded) until the agent has PATH open.
await_open() {
  for _ in $(seq 50); do [ "$(agent_fds "$1")" -eq 1 ] && return 0; sleep 0.2; done
  fail "the agent never had $1 open"
}
boot_id() { qorvm_exec "$vm" /bin/cat /proc/sys/kernel/random/boot_id; }
# Reboots the guest through libvirt and waits until the new boot's agent answers.
reboot_guest() {
  local before now
  before=$(boot_id) || fail "the boot id before the reboot"
  qorvm_virsh reboot "$vm" >/dev/null || fail "virsh reboot"
  for _ in $(seq $((QORVM_BOOT_WAIT * 2))); do
    now=$(boot_id 2>/dev/null) || now=
    [ -z "$now" ] || [ "$now" = "$before" ] || return 0
    sleep 0.5
  done
  fail "the guest did not come back from its reboot"
}
# Makes a file of N bytes of the character C in the guest.
guest_file() {
  qorvm_exec "$vm" /bin/sh -c "head -c $2 /dev/zero | tr '\\000' $3 >$1" || fail "making $1"
}

qorvm_daemon_start "$work" >/dev/null || fail "the daemon or the guest image"
vm=reboot
qorvm_define "$vm" 52:54:00:51:00:21 || fail "define $vm"
qorvm_virsh start "$vm" >/dev/null || fail "start $vm"
qorvm_wait_agent "$vm" $((QORVM_BOOT_WAIT + 30)) || fail "no agent in $vm"

bus_name=$(sed -n '/CFBundleIdentifier/{n;s/.*<string>\(.*\)<\/string>.*/\1/p}' \
  "$bundle/Contents/Info.plist")
{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address
"$host" --backend libvirt --connect "$QORVM_URI" --bus-name "$bus_name" >"$work/host.log" 2>&1 &
host_pid=$!
for _ in $(seq 100); do busctl --user status "$bus_name" >/dev/null 2>&1 && break; sleep 0.1; done
timeout 60 "$qorctl" list >/dev/null || fail "qorctl list"

restarted="The guest agent restarted; the file is no longer open."
size=4000000
mkfifo "$work/a.pipe" "$work/b.pipe"

# Pull: A's reader stops reading after the pipe's first 64 KiB; B's too, while A goes on.
guest_file /tmp/a.bin $size A
timeout 120 "$qorctl" file pull "$vm" /tmp/a.bin >"$work/a.pipe" 2>"$work/a.err" &
a=$!
clients+=("$a")
exec 3<"$work/a.pipe"
await_open /tmp/a.bin
reboot_guest
guest_file /tmp/b.bin $size B
timeout 120 "$qorctl" file pull "$vm" /tmp/b.bin >"$work/b.pipe" 2>"$work/b.err" &
b=$!
clients+=("$b")
exec 4<"$work/b.pipe"
await_open /tmp/b.bin
cat <&3 >"$work/a.out"
exec 3<&-
set +e
wait "$a"
a_status=$?
set -e
cat <&4 >"$work/b.out"
exec 4<&-
set +e
wait "$b"
b_status=$?
set -e
[ $a_status -ne 0 ] || fail "the pull across the reboot ended 0 with $(stat -c %s "$work/a.out") bytes"
grep -qF -- "$restarted" "$work/a.err" || fail "the pull across the reboot said: $(cat "$work/a.err")"
[ "$(tr -d A <"$work/a.out" | wc -c)" -eq 0 ] || fail "the pull across the reboot took bytes of another file"
[ $b_status -eq 0 ] || fail "the second client's pull: status $b_status: $(cat "$work/b.err")"
[ "$(hash_of <"$work/b.out")" = "$(head -c $size /dev/zero | tr '\0' B | hash_of)" ] ||
  fail "the second client's pull got $(stat -c %s "$work/b.out") bytes that differ"
[ "$(guest_hash /tmp/b.bin)" = "$(head -c $size /dev/zero | tr '\0' B | hash_of)" ] ||
  fail "the second client's file changed in the guest"
ok "pull across a reboot: status $a_status after $(stat -c %s "$work/a.out") bytes of its own, said why; the other client's pull exact"

# Push: each writer sends 100 KB, then holds its pipe open without writing.
head -c $size /dev/zero | tr '\0' A >"$work/a.in"
head -c $size /dev/zero | tr '\0' B >"$work/b.in"
timeout 120 "$qorctl" file push "$vm" /tmp/a.push <"$work/a.pipe" 2>"$work/a.err" &
a=$!
clients+=("$a")
exec 5>"$work/a.pipe"
head -c 100000 "$work/a.in" >&5
await_open /tmp/a.push
reboot_guest
timeout 120 "$qorctl" file push "$vm" /tmp/b.push <"$work/b.pipe" 2>"$work/b.err" &
b=$!
clients+=("$b")
exec 6>"$work/b.pipe"
head -c 100000 "$work/b.in" >&6
await_open /tmp/b.push
# A gives up at its next write, so the rest may meet a closed pipe.
tail -c +100001 "$work/a.in" >&5 2>/dev/null || true
exec 5>&-
set +e
wait "$a"
a_status=$?
set -e
tail -c +100001 "$work/b.in" >&6
exec 6>&-
set +e
wait "$b"
b_status=$?
set -e
[ $a_status -ne 0 ] || fail "the push across the reboot ended 0"
grep -qF -- "$restarted" "$work/a.err" || fail "the push across the reboot said: $(cat "$work/a.err")"
[ $b_status -eq 0 ] || fail "the second client's push: status $b_status: $(cat "$work/b.err")"
[ "$(guest_hash /tmp/b.push)" = "$(hash_of <"$work/b.in")" ] ||
  fail "the second client's pushed file differs in the guest"
# What reached the file before the reboot stays (a guest whose /tmp is on its disk); nothing after.
left=$(qorvm_exec "$vm" /bin/sh -c \
  'if test -e /tmp/a.push; then wc -c </tmp/a.push; tr -d A </tmp/a.push | wc -c; fi') ||
  fail "looking at /tmp/a.push"
[ -z "$left" ] || { [ "$(sed -n 1p <<<"$left")" -le 100000 ] && [ "$(sed -n 2p <<<"$left")" -eq 0 ]; } ||
  fail "the push across the reboot left: $left"
ok "push across a reboot: status $a_status, said why, wrote nothing after it; the other client's push exact"

kill -0 "$host_pid" 2>/dev/null || fail "qor-host has gone"

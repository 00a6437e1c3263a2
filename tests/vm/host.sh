#!/usr/bin/env bash
# qorctl against qor-host's libvirt backend on real machines: the private libvirt daemon and
# the tiny guest of the fixture, a private session bus, the real qorctl of the build's bundle.
#
#   host.sh BUNDLE     (BUNDLE: the build's Qor.app)
#
# One daemon and one guest for everything, booted as few times as the checks allow: list and
# status in each state, start, suspend (pause and managed save) and resume with the guest's
# memory kept, stop by each method, a disposable run, clone and delete, the serial pty, the
# error replies and their texts, libvirt going away and coming back, and another client served
# while a managed save runs. Exits 77 (skipped) without QEMU or a libvirt daemon; gives up on
# its own after QORVM_HOST_LIMIT seconds (420 on the busybox guest, more for a slower one:
# qorvm_limit) so that its cleanup always runs. QOR_VM_GUEST picks the guest (lib.sh).
set -euo pipefail

bundle=$(cd "$1" && pwd)
qorctl_bin=$bundle/Contents/MacOS/qorctl
host_bin=$bundle/Contents/MacOS/qor-host
bus_name=$(grep -A1 '<key>CFBundleIdentifier</key>' "$bundle/Contents/Info.plist" |
  sed -n 's:.*<string>\(.*\)</string>.*:\1:p')

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
qorvm_require qemu-system-x86_64 qemu-img virsh jq dbus-daemon busctl

work=$(mktemp -d /tmp/qorvm-host.XXXXXX)
watchdog="" bus_pid="" host_pid=""
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  if [ $status -ne 0 ]; then
    echo "--- qor-host's output:" >&2
    tail -n 20 "$work/host.err" >&2 2>/dev/null || true
    echo "--- the daemon's log:" >&2
    tail -n 20 "$work/log/"*.log >&2 2>/dev/null || true
  fi
  qorvm_daemon_stop || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
qorvm_watchdog "${QORVM_HOST_LIMIT:-$(qorvm_limit 420 5)}"


# qorctl with its output in $out, $err and $rc; never fails the script by itself.
q() {
  set +e
  timeout 120 "$qorctl_bin" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  set -e
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}
expect_ok() {
  q "$@"
  [ $rc -eq 0 ] || fail "qorctl $* ended with $rc: $err"
}
# qorctl ARGS… must end with status 1 and name the error on stderr.
expect_error() {
  local text=$1
  shift
  q "$@"
  [ $rc -eq 1 ] || fail "qorctl $* ended with $rc, not 1 (stderr: $err)"
  grep -qF -- "$text" <<<"$err" || fail "qorctl $*: stderr lacks '$text': $err"
}
expect_status() {
  expect_ok status "$1"
  [ "$out" = "$2" ] || fail "status $1 is '$out', not '$2'"
}
# Waits (bounded) until qorctl reports STATE for NAME.
wait_status() {
  local name=$1 state=$2 deadline=$((SECONDS + $3))
  while [ $SECONDS -lt $deadline ]; do
    q status "$name"
    [ "$out" = "$state" ] && return 0
    sleep 0.2
  done
  fail "$name is not '$state' after $3 s (qorctl: '$out' $err; virsh: $(qorvm_virsh domstate --reason "$name" 2>&1))"
}
qorvm_daemon_start "$work" >/dev/null || fail "the daemon or the guest image"
qorvm_define vm1
qorvm_define vm2 52:54:00:51:00:02 noagent
uuid1=$(qorvm_virsh domuuid vm1 | tr a-f A-F)
uuid2=$(qorvm_virsh domuuid vm2 | tr a-f A-F)
ok "daemon at $QORVM_URI, vm1 and vm2 defined"

export HOME=$work/home-user XDG_CONFIG_HOME=$work/xdg XDG_RUNTIME_DIR=$work/xdg-run
mkdir -p "$HOME" "$XDG_CONFIG_HOME/qor" "$XDG_RUNTIME_DIR"
bus_pid=$(dbus-daemon --session --address="unix:path=$work/bus" --fork --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus

# A host that qorctl launches itself reads the user's host.conf.
printf '# qor-host for these tests\nbackend = libvirt\n\nconnect = %s\n' "$QORVM_URI" \
  >"$XDG_CONFIG_HOME/qor/host.conf"
expect_ok list
[ "$(sed -n 1p <<<"$out")" = "UUID                                 Status   Name" ] || fail "list header: $out"
[ "$(sed -n 2,3p <<<"$out")" = "$uuid1 stopped  vm1
$uuid2 stopped  vm2" ] || fail "list of two stopped machines: $out"
host_pid=$(busctl --user status "$bus_name" | sed -n 's/^PID=//p')
[ -n "$host_pid" ] || fail "no host owns $bus_name"
ok "a launched host reads host.conf; list: UUIDs in capitals, stopped, sorted by name"
"$host_bin" --backend simulated --bad-option 2>/dev/null && fail "a bad option was accepted"
printf 'backend = libvirt\ncolour = blue\n' >"$work/bad.conf"
set +e
mkdir -p "$work/badconf/qor" && cp "$work/bad.conf" "$work/badconf/qor/host.conf"
XDG_CONFIG_HOME=$work/badconf timeout 10 "$host_bin" --hidden 2>"$work/bad.err"
bad=$?
set -e
{ [ $bad -eq 64 ] && grep -q "line 2: unknown key 'colour'" "$work/bad.err"; } ||
  fail "a host.conf with an unknown key: status $bad, $(cat "$work/bad.err")"
ok "host.conf with an unknown key: status 64 and the line named"

# The launched host answers an id path in either case, always with the UUID in capitals.
lower=$(tr A-F a-f <<<"$uuid1")
id=$(busctl --user get-property "$bus_name" "/org/qor/Scripting1/vm/id/${lower//-/_2d}" \
  org.qor.Scripting1.VirtualMachine Id)
[ "$id" = "s \"$uuid1\"" ] || fail "the id path in lower case answers $id"
ok "an id path in lower case names the machine"

expect_error "Virtual machine not found." status nosuch
expect_error "domain is not running" stop vm1
grep -qF "VirtualMachine.Stop failed: org.qor.Scripting1.Error.InvalidState" <<<"$err" ||
  fail "stop of a stopped machine: $err"
expect_error "domain is not running" suspend vm1
expect_error "no recovery mode" start --recovery vm1
expect_error "The virtual machine is not running" exec vm1 --cmd /bin/true
expect_ok attach vm1
[ "$out" = "WARNING: attach command is not implemented yet!" ] || fail "attach of a stopped machine: $out"
ok "errors: unknown machine, stop and suspend of a stopped machine (libvirt's words), recovery, guest operations; a stopped machine's port is unavailable"

expect_ok usb list
[ "$out" = "No devices found. Make sure a USB sharing enabled VM is running." ] || fail "usb list: $out"
expect_error "Device not found." usb connect vm1 1234:5678
ok "usb: no host devices here"

# Clone and delete a stopped machine: its own UUID, MAC and disk, equal content.
expect_ok clone vm1
expect_ok clone --name "vm1 named" vm1
expect_ok list
{ grep -q " stopped  vm1 copy$" <<<"$out" && grep -q " stopped  vm1 named$" <<<"$out"; } ||
  fail "list after two clones: $out"
copy_uuid=$(qorvm_virsh domuuid "vm1 copy")
[ "$(tr a-f A-F <<<"$copy_uuid")" != "$uuid1" ] || fail "the copy has the original's UUID"
mac_of() { qorvm_virsh domiflist "$1" | awk 'NF >= 5 { print $5 }'; }
disk_of() { qorvm_virsh domblklist "$1" | awk '$1 == "vda" { print $2 }'; }
{ [ -n "$(mac_of "vm1 copy")" ] && [ "$(mac_of "vm1 copy")" != "$(mac_of vm1)" ]; } ||
  fail "the copy's MAC '$(mac_of "vm1 copy")' (original $(mac_of vm1))"
copy_disk=$(disk_of "vm1 copy")
{ [ "$copy_disk" != "$(disk_of vm1)" ] && [ -f "$copy_disk" ]; } || fail "the copy's disk is '$copy_disk'"
qemu-img compare -q "$(disk_of vm1)" "$copy_disk" || fail "the copy's disk differs from the original's"
qorvm_virsh vol-list qortest | grep -qF "$copy_disk" || fail "the copy's disk is not a pool volume"
expect_ok clone vm1
grep -q " vm1 copy 2$" <<<"$(timeout 30 "$qorctl_bin" list)" || fail "a second clone is not 'vm1 copy 2'"
ok "clone: own UUID, MAC and pool volume with equal content; free names 'vm1 copy', 'vm1 copy 2'"

expect_ok delete "vm1 copy"
qorvm_virsh domuuid "vm1 copy" >/dev/null 2>&1 && fail "the deleted copy is still defined"
[ ! -e "$copy_disk" ] || fail "delete left the copy's own disk $copy_disk"
[ -f "$(disk_of vm1)" ] || fail "delete of the copy removed the original's disk"
vm2_disk=$(disk_of vm2)
expect_ok delete vm2
qorvm_virsh domuuid vm2 >/dev/null 2>&1 && fail "vm2 is still defined"
[ -f "$vm2_disk" ] || fail "delete removed vm2's own disk, which the host did not make"
ok "delete: the copy with its disk; a machine the user brought keeps its disk"

# A running machine: status, serial pty, no clone or delete, managed save with memory kept.
expect_ok start vm1
expect_status vm1 started
qorvm_wait_agent vm1 "$QORVM_BOOT_WAIT" || fail "no agent in vm1"
expect_ok attach vm1
[ "$(sed -n 2p <<<"$out")" = "PTTY: $(qorvm_virsh ttyconsole vm1)" ] ||
  fail "attach names '$out', virsh ttyconsole $(qorvm_virsh ttyconsole vm1)"
ok "start: started; the serial port is the pty virsh ttyconsole names"
expect_error "Only a stopped virtual machine can be duplicated" clone vm1
expect_error "stop it before deleting it" delete vm1
grep -qF "org.qor.Scripting1.Error.InvalidState" <<<"$err" || fail "delete of a running machine: $err"
ok "clone and delete of a running machine are refused"

qorvm_exec vm1 /bin/sh -c 'echo kept-in-memory > /tmp/mark' || fail "writing /tmp/mark"
# Another client is served while the managed save runs: its list ends first.
(
  "$qorctl_bin" suspend -s vm1 >"$work/suspend.out" 2>&1
  echo $? >"$work/suspend.rc"
) &
suspender=$!
deadline=$((SECONDS + 20))
while [ $SECONDS -lt $deadline ] && [ ! -e "$work/suspend.rc" ]; do
  [ "$(qorvm_virsh domstate --reason vm1 2>/dev/null)" = "paused (saving)" ] && break
  sleep 0.05
done
[ ! -e "$work/suspend.rc" ] || fail "the managed save ended before it could be watched"
expect_ok list
[ -e "$work/suspend.rc" ] && fail "list ended only after the managed save"
# Saving reads as pausing; the host's look at libvirt may be up to 20 ms old, or the save may
# just have ended.
grep -Eq "^$uuid1 (started|pausing|paused )  vm1$" <<<"$out" || fail "during the save vm1 is listed as: $out"
ok "while suspend -s runs, list from another client answers first (vm1: $(awk -v u="$uuid1" '$1 == u { print $2 }' <<<"$out"))"
wait "$suspender"
[ "$(cat "$work/suspend.rc")" = 0 ] || fail "suspend -s: $(cat "$work/suspend.out")"
expect_status vm1 paused
[ "$(qorvm_virsh domstate --reason vm1)" = "shut off (saved)" ] || fail "after suspend -s: $(qorvm_virsh domstate --reason vm1)"
expect_error "its state is saved" stop --request vm1
expect_ok start vm1
expect_status vm1 started
[ "$(qorvm_exec vm1 /bin/cat /tmp/mark)" = kept-in-memory ] || fail "/tmp/mark lost in save and restore"
ok "suspend -s: saved (paused); start restores it running with the guest's memory"

expect_ok suspend vm1
expect_status vm1 paused
[ "$(qorvm_virsh domstate vm1)" = paused ] || fail "suspend: $(qorvm_virsh domstate vm1)"
expect_ok start vm1
expect_status vm1 started
ok "suspend and start: paused, then running again"

expect_ok stop --request vm1
wait_status vm1 stopped "$QORVM_BOOT_WAIT"
ok "stop --request: the guest shuts down"

# A disposable run: what it writes to its disk is gone afterwards.
expect_ok start --disposable vm1
expect_status vm1 started
qorvm_wait_agent vm1 "$QORVM_BOOT_WAIT" || fail "no agent in the disposable run"
qorvm_exec vm1 /bin/sh -c 'echo thrown-away > /data/disposable; sync' || fail "writing /data/disposable"
expect_ok stop --kill vm1
expect_status vm1 stopped
qorvm_virsh dumpxml --inactive vm1 | grep -q "<transient" && fail "the definition kept the transient disk"
expect_ok start vm1
qorvm_wait_agent vm1 "$QORVM_BOOT_WAIT" || fail "no agent after the disposable run"
qorvm_exec vm1 /bin/cat /data/disposable >/dev/null 2>&1 && fail "the disposable run's file survived"
ok "start --disposable: the run's disk changes are discarded; stop --kill"

expect_ok stop --force vm1
expect_status vm1 stopped
[ "$(qorvm_virsh domstate vm1)" = "shut off" ] || fail "stop --force: $(qorvm_virsh domstate vm1)"
ok "stop --force: shut off"

# libvirt goes away: every request says so, the host stays, and comes back with libvirt.
qorvm_daemon_stop
expect_error "Cannot reach libvirt" list
expect_error "Cannot reach libvirt" status vm1
kill -0 "$host_pid" 2>/dev/null || fail "qor-host ended with libvirt"
QORVM_URI=$("$here/libvirtd.sh" start "$work") || fail "restarting the daemon"
expect_ok status vm1
[ "$out" = stopped ] || fail "after libvirt came back, status is '$out'"
ok "libvirt unreachable: a clear error for each request; back when libvirt is"
echo "host: every check passed"

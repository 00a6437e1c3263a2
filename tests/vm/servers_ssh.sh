#!/usr/bin/env bash
# One host over two libvirt connections, one of them remote through qemu+ssh to this computer:
# a private libvirt daemon (libvirtd.sh) and an OpenSSH server started here, both as the test
# user "qorssh", the server on a loopback port only, with a host key and a client key made for
# the test (nothing in anyone's ~/.ssh is read or written: the client's known hosts are the
# test's own file). The other connection is a world of libvirt's test driver. No guest boots:
# the remote machine runs for a moment without a disk, for its serial port.
#
# Checks: the list is grouped by connection in the configured order; a machine on the remote
# connection answers, and attach names the server its pty is on; with a key the server does not
# take, the remote connection is named on standard error, the local machine is still listed and
# the status is 1, and a request for the remote machine fails at once with "Cannot reach libvirt
# at URI: …" and ssh's reason, with no prompt although a terminal is there to prompt on. Bounds
# itself to 150 s; skipped (77) without root, sshd, a libvirt daemon or QEMU.
#
#   bash tests/vm/servers_ssh.sh BUNDLE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=sshd.sh
source "$here/sshd.sh"
bundle=${1:?usage: servers_ssh.sh BUNDLE}
qorctl=$bundle/Contents/MacOS/qorctl
skip() {
  echo "skipped: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root (a test user runs the daemon and the ssh server)"
[ -x /usr/sbin/sshd ] || skip "no OpenSSH server (openssh-server)"
[ -x /usr/sbin/libvirtd ] || [ -x /usr/sbin/virtqemud ] || skip "no libvirt daemon"
command -v qemu-system-x86_64 >/dev/null || skip "no QEMU"
command -v script >/dev/null || skip "no script(1)"

user=qorssh
work=$(mktemp -d /tmp/qor-ssh.XXXXXX)
chmod 0755 "$work"
ssh_dir=$work/ssh
bus_pid=""
watchdog=""
cleanup() {
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  qorssh_stop
  QOR_VM_USER=$user bash "$here/libvirtd.sh" stop "$work/d" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
(
  # Its own output elsewhere: a sleep left behind must not hold the caller's pipe open.
  sleep 150 </dev/null >/dev/null 2>&1
  echo "servers_ssh.sh: out of time" >&2
  kill -TERM $$
) &
watchdog=$!

qorssh_user "$user"
QOR_VM_USER=$user bash "$here/libvirtd.sh" start "$work/d" >/dev/null
daemon_uri="qemu+unix:///session?socket=$work/d/run/libvirt/libvirt-sock"
printf '%s\n' "<domain type='qemu'><name>remote1</name>" \
  "<uuid>cccccccc-0000-4000-8000-000000000001</uuid><memory unit='MiB'>64</memory>" \
  "<os><type arch='x86_64' machine='pc'>hvm</type></os>" \
  "<devices><emulator>/usr/bin/qemu-system-x86_64</emulator>" \
  "<serial type='pty'><target port='0'/></serial></devices></domain>" \
  >"$work/remote1.xml"
timeout 60 virsh -q -c "$daemon_uri" define "$work/remote1.xml" >/dev/null
qorssh_start "$ssh_dir" "$user" "$work/d/run" || fail "the ssh server"
remote() { qorssh_uri "$1"; }

printf '%s\n' "<node><domain type='test' xmlns:test='http://libvirt.org/schemas/domain/test/1.0'>" \
  "<name>local1</name><uuid>dddddddd-0000-4000-8000-000000000001</uuid><memory>65536</memory>" \
  "<os><type>hvm</type></os><test:runstate>5</test:runstate></domain></node>" >"$work/local.xml"
local_uri="test://$work/local.xml"

# qorctl launches the host on a private bus, with a home and configuration of the test's own.
{
  read -r address
  read -r bus_pid
} < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$XDG_CONFIG_HOME/qor"
configure() {
  printf 'backend = libvirt\nconnect = %s\nconnect = %s\n' "$1" "$local_uri" \
    >"$XDG_CONFIG_HOME/qor/host.conf"
}
# Ends the host qorctl launched, so that the next command launches one that reads host.conf.
end_host() {
  local pid
  pid=$(busctl --user status org.qor.Qor 2>/dev/null | sed -n 's/^PID=//p')
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    busctl --user status org.qor.Qor >/dev/null 2>&1 || return 0
    sleep 0.1
  done
}

header="UUID                                 Status   Name"
configure "$(remote id)"
out=$(timeout 60 "$qorctl" list) || fail "list over ssh: status $?"
expected="$header
CCCCCCCC-0000-4000-8000-000000000001 stopped  remote1
DDDDDDDD-0000-4000-8000-000000000001 stopped  local1"
[ "$out" = "$expected" ] || fail "list over ssh: $out"
[ "$(timeout 60 "$qorctl" status remote1)" = stopped ] || fail "status of the remote machine"
echo "ok: grouped list and a remote machine over qemu+ssh"
# The pty of a machine on the remote connection is a path on that server: attach says which.
# (It runs briefly with no disk; its firmware finds nothing to boot.)
timeout 60 virsh -q -c "$daemon_uri" start remote1 >/dev/null
timeout 60 "$qorctl" wait --for started --timeout 30 remote1 || fail "remote1 did not start"
out=$(timeout 60 "$qorctl" attach remote1) || fail "attach over ssh: status $?"
timeout 60 virsh -q -c "$daemon_uri" destroy remote1 >/dev/null
[[ $out == *$'\n'"PTTY: /dev/pts/"*" on 127.0.0.1" ]] || fail "attach over ssh: $out"
echo "ok: attach names the server: ${out##*$'\n'}"
end_host

wrong=$(remote wrong)
configure "$wrong"
rc=0
out=$(timeout 60 "$qorctl" list 2>"$work/err") || rc=$?
[ "$rc" = 1 ] || fail "list with a wrong key: status $rc"
[ "$out" = "$header
DDDDDDDD-0000-4000-8000-000000000001 stopped  local1" ] || fail "list with a wrong key: $out"
grep -qF "Error: The machines on $wrong are not listed" "$work/err" ||
  fail "list with a wrong key, stderr: $(cat "$work/err")"
# With a terminal there to prompt on: the failure comes at once, and names the URI.
start=$(date +%s%N)
rc=0
timeout 30 script -qec "'$qorctl' status remote1" /dev/null >"$work/tty" 2>&1 || rc=$?
took=$((($(date +%s%N) - start) / 1000000))
[ "$rc" = 1 ] || fail "status with a wrong key: status $rc: $(cat "$work/tty")"
grep -qF "Cannot reach libvirt at $wrong: " "$work/tty" || fail "no clear error: $(cat "$work/tty")"
grep -q "Permission denied" "$work/tty" || fail "ssh's reason missing: $(cat "$work/tty")"
[ "$took" -lt 10000 ] || fail "the failure took $took ms"
echo "ok: a wrong key is a clear error after $took ms, no prompt:"
grep -F "Cannot reach libvirt" "$work/tty" | head -1

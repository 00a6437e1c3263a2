# shellcheck shell=bash
# Functions for tests on real machines: a private libvirt daemon, a test guest, and its agent.
# Source it from bash; every wait is bounded; nothing here needs more than the daemon.
#
# QOR_VM_GUEST picks the guest: "busybox" (the default: make-guest.sh, a busybox initramfs that
# boots in seconds) or "debian" (make-debian-guest.sh: Debian 12 with systemd and the packaged
# agent, on its root disk). Both boot from the same domain XML.
#
#   qorvm_daemon_start DIR      start the daemon below DIR (see libvirtd.sh), build or fetch the
#                               guest into DIR/guest, define the storage pool "qortest"
#                               (DIR/pool); sets QORVM_DIR, QORVM_URI, QORVM_USER, QORVM_GUEST
#   qorvm_daemon_stop           destroy every running machine and stop the daemon
#   qorvm_xml NAME DISK [MAC] [noagent]
#                               print the domain XML of a test guest
#   qorvm_define NAME [MAC] [noagent]
#                               copy the guest's disk to the pool volume NAME.qcow2, define NAME
#   qorvm_wait_agent NAME [SECONDS]
#                               wait until the agent of a running NAME answers guest-ping
#   qorvm_agent NAME JSON [SECONDS]
#                               one agent command through libvirt; prints the reply
#   qorvm_exec NAME PROGRAM [ARGUMENT...]
#                               run a program in the guest, wait (bounded) for it; prints its
#                               output, the guest's exit status becomes the function's
#   qorvm_virsh ARGUMENT...     virsh on the daemon, bounded by QORVM_VIRSH_TIMEOUT (60 s)
#   fail MESSAGE...             end the test with "FAIL: MESSAGE" on standard error, status 1
#   ok MESSAGE...               report a passed check: "ok - MESSAGE"
#   qorvm_limit BASE BOOTS      a test's time limit: BASE seconds on the busybox guest, plus
#                               what BOOTS boots (or shutdowns) of a slower guest add, plus
#                               the Debian guest's first build
#
# QORVM_BOOT_WAIT is how long a boot may take until the agent answers, and a guest's shutdown
# until it is off: 60 s for the busybox guest, 300 s for the Debian one (systemd under TCG
# takes 45-110 s here on a loaded machine, see README.md).
#
# The guest's address is 10.0.2.15/24 in QEMU's user-mode network with no default route; its
# MAC is 52:54:00:51:00:01 unless given.

QORVM_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
QORVM_MAC_DEFAULT=52:54:00:51:00:01
QORVM_GUEST=${QOR_VM_GUEST:-busybox}
case $QORVM_GUEST in
  debian) QORVM_BOOT_WAIT=${QORVM_BOOT_WAIT:-300} ;;
  *) QORVM_BOOT_WAIT=${QORVM_BOOT_WAIT:-60} ;;
esac

fail() { echo "FAIL: $*" >&2; exit 1; }
ok() { echo "ok - $*"; }

# The Debian guest's first build (about 5 min, see README.md) runs inside a test's limit too.
qorvm_limit() {
  local build=0
  [ "$QORVM_GUEST" != debian ] || build=600
  echo $(($1 + $2 * (QORVM_BOOT_WAIT - 60) + build))
}

# The script that builds the guest QORVM_GUEST names.
qorvm_guest_builder() {
  case $QORVM_GUEST in
    busybox) echo "$QORVM_HERE/make-guest.sh" ;;
    debian) echo "$QORVM_HERE/make-debian-guest.sh" ;;
    *) echo "qorvm: unknown guest '$QORVM_GUEST' (busybox or debian)" >&2; return 1 ;;
  esac
}

qorvm_virsh() { timeout "${QORVM_VIRSH_TIMEOUT:-60}" virsh -q -c "$QORVM_URI" "$@"; }

# Skips the test (ctest's status 77) unless every TOOL and a libvirt daemon are installed.
qorvm_require() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  [ -x /usr/sbin/libvirtd ] || [ -x /usr/sbin/virtqemud ] ||
    { echo "SKIP: no libvirt daemon is installed"; exit 77; }
  if [ "$QORVM_GUEST" = debian ]; then
    [ "$(id -u)" -eq 0 ] || { echo "SKIP: the Debian guest is built as root"; exit 77; }
    command -v debootstrap >/dev/null || { echo "SKIP: debootstrap is not installed"; exit 77; }
  fi
}

# Ends the test with a failure once LIMIT seconds have passed, so that its EXIT trap (which kills
# $watchdog) always gets to clean up; an interrupt or TERM ends it through that trap too. The
# watchdog's sleep ends with it, so that nothing of the test outlives it.
qorvm_watchdog() {
  local limit=$1
  trap 'exit 130' INT
  trap 'exit 143' TERM
  (
    trap 'kill "$sleeper" 2>/dev/null; exit 0' TERM
    sleep "$limit" >/dev/null 2>&1 &
    sleeper=$!
    wait "$sleeper"
    echo "FAIL: over the time limit of $limit s" >&2
    kill -TERM $$
  ) &
  watchdog=$!
}

qorvm_daemon_start() {
  local builder
  QORVM_DIR=$1
  builder=$(qorvm_guest_builder) || return 1
  QORVM_URI=$("$QORVM_HERE/libvirtd.sh" start "$QORVM_DIR") || return 1
  QORVM_USER=$(cat "$QORVM_DIR/user")
  export QORVM_DIR QORVM_URI QORVM_USER QORVM_GUEST
  "$builder" "$QORVM_DIR/guest" || return 1
  if ! qorvm_virsh pool-info qortest >/dev/null 2>&1; then
    mkdir -p "$QORVM_DIR/pool"
    qorvm_own "$QORVM_DIR/pool"
    qorvm_virsh pool-define-as qortest dir --target "$QORVM_DIR/pool" >/dev/null || return 1
    qorvm_virsh pool-start qortest >/dev/null || return 1
  fi
}

qorvm_daemon_stop() {
  [ -n "${QORVM_DIR:-}" ] || return 0
  "$QORVM_HERE/libvirtd.sh" stop "$QORVM_DIR"
}

# Files the daemon's QEMU writes must belong to the daemon's user.
qorvm_own() {
  if [ "$(id -u)" -eq 0 ] && [ "$QORVM_USER" != root ]; then chown "$QORVM_USER:" "$@"; fi
}

qorvm_xml() {
  local name=$1 disk=$2 mac=${3:-$QORVM_MAC_DEFAULT} agent=${4:-agent} guest=$QORVM_DIR/guest
  local channel="
    <channel type='unix'>
      <target type='virtio' name='org.qemu.guest_agent.0'/>
    </channel>"
  [ "$agent" != noagent ] || channel=
  cat <<EOF
<domain type='qemu'>
  <name>$name</name>
  <memory unit='MiB'>256</memory>
  <vcpu>1</vcpu>
  <os>
    <type arch='x86_64' machine='pc'>hvm</type>
    <kernel>$guest/vmlinuz</kernel>
    <initrd>$guest/initrd.img</initrd>
    <cmdline>$(cat "$guest/cmdline")</cmdline>
  </os>
  <features><acpi/></features>
  <clock offset='utc'/>
  <on_poweroff>destroy</on_poweroff>
  <on_reboot>restart</on_reboot>
  <on_crash>destroy</on_crash>
  <devices>
    <emulator>/usr/bin/qemu-system-x86_64</emulator>
    <disk type='file' device='disk'>
      <driver name='qemu' type='qcow2'/>
      <source file='$disk'/>
      <target dev='vda' bus='virtio'/>
    </disk>
    <interface type='user'>
      <mac address='$mac'/>
      <ip family='ipv4' address='10.0.2.0' prefix='24'/>
      <model type='virtio'/>
    </interface>
    <serial type='pty'>
      <target port='0'/>
    </serial>
    <console type='pty'>
      <target type='serial' port='0'/>
    </console>$channel
    <video><model type='none'/></video>
    <memballoon model='none'/>
  </devices>
</domain>
EOF
}

qorvm_define() {
  local name=$1 mac=${2:-$QORVM_MAC_DEFAULT} agent=${3:-agent}
  local disk=$QORVM_DIR/pool/$name.qcow2
  cp "$QORVM_DIR/guest/disk.qcow2" "$disk"
  qorvm_own "$disk"
  qorvm_virsh pool-refresh qortest >/dev/null || return 1
  qorvm_xml "$name" "$disk" "$mac" "$agent" >"$QORVM_DIR/$name.xml"
  qorvm_virsh define "$QORVM_DIR/$name.xml" >/dev/null
}

qorvm_agent() {
  local name=$1 json=$2 seconds=${3:-10}
  qorvm_virsh qemu-agent-command --timeout "$seconds" "$name" "$json"
}

qorvm_wait_agent() {
  local name=$1 seconds=${2:-60} deadline
  deadline=$((SECONDS + seconds))
  while [ $SECONDS -lt $deadline ]; do
    if qorvm_agent "$name" '{"execute":"guest-ping"}' 2 >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.5
  done
  echo "qorvm: the agent of $name did not answer within $seconds s" >&2
  return 1
}

# Polls guest-exec-status every 0.1 s for at most QORVM_EXEC_TIMEOUT (30) s. A program ended
# by a signal returns 128 + the signal, as a shell would.
qorvm_exec() {
  local name=$1 path=$2 request pid reply
  shift 2
  request=$(jq -cn --arg path "$path" '{execute: "guest-exec",
    arguments: {path: $path, arg: $ARGS.positional, "capture-output": true}}' --args -- "$@")
  reply=$(qorvm_agent "$name" "$request") || return 1
  pid=$(jq -r '.return.pid' <<<"$reply")
  for _ in $(seq $((${QORVM_EXEC_TIMEOUT:-30} * 10))); do
    reply=$(qorvm_agent "$name" "{\"execute\":\"guest-exec-status\",\"arguments\":{\"pid\":$pid}}") ||
      return 1
    if [ "$(jq -r '.return.exited' <<<"$reply")" = true ]; then
      jq -r '.return["out-data"] // empty' <<<"$reply" | base64 -d
      jq -r '.return["err-data"] // empty' <<<"$reply" | base64 -d >&2
      return "$(jq -r '.return | if has("signal") then 128 + .signal else .exitcode end' <<<"$reply")"
    fi
    sleep 0.1
  done
  echo "qorvm: $path in $name did not end within ${QORVM_EXEC_TIMEOUT:-30} s" >&2
  return 1
}

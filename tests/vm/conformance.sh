#!/usr/bin/env bash
# The backend conformance suite (tests/unit/backend_conformance) on real guests: a private
# libvirt daemon with three machines, one running whose agent answers, one shut off and one
# paused, and the suite's program run against them. The suite's fixture puts each machine back
# into its state before every case, so only the cases that stop the running one boot it again.
# Exits 77 (skipped) without QEMU or libvirt; everything it starts it stops; it gives up after
# QORVM_CONFORMANCE_LIMIT seconds (420 on the busybox guest, more for a slower one:
# qorvm_limit). QOR_VM_GUEST picks the guest (lib.sh).
#
#   conformance.sh PROGRAM [GTEST ARGUMENT...]     (PROGRAM: qor_guest_conformance_tests)
set -euo pipefail

program=${1:?usage: conformance.sh PROGRAM [GTEST ARGUMENT...]}
shift
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
qorvm_require qemu-system-x86_64 virsh

work=$(mktemp -d /tmp/qorvm-conf.XXXXXX)
watchdog='' suite=''
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  [ -z "$suite" ] || kill "$suite" 2>/dev/null || true
  qorvm_daemon_stop || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
# The suite boots the running machine again three times (each case that stops it).
qorvm_watchdog "${QORVM_CONFORMANCE_LIMIT:-$(qorvm_limit 420 4)}"


qorvm_daemon_start "$work" >/dev/null || fail "the daemon or the guest image"
qorvm_define run 52:54:00:51:00:31 || fail "define run"
qorvm_define off 52:54:00:51:00:32 || fail "define off"
qorvm_define paused 52:54:00:51:00:33 || fail "define paused"
qorvm_virsh start run >/dev/null || fail "start run"
# Paused at once: it holds its memory but takes no processor time while the suite runs.
qorvm_virsh start --paused paused >/dev/null || fail "start paused"
qorvm_wait_agent run "$QORVM_BOOT_WAIT" || fail "the agent of run"

export QOR_CONFORMANCE_URI=$QORVM_URI QORVM_BOOT_WAIT
export QOR_CONFORMANCE_RUNNING=run QOR_CONFORMANCE_STOPPED=off
export QOR_CONFORMANCE_PAUSED=paused
started=$SECONDS
# In the background, so that the watchdog's TERM reaches this shell's trap at once.
"$program" "$@" &
suite=$!
set +e
wait "$suite"
status=$?
set -e
suite=''
echo "the suite took $((SECONDS - started)) s on the $QORVM_GUEST guest"
[ "$status" -eq 0 ] || fail "the suite failed (status $status)"

#!/usr/bin/env bash
# Defines a test guest on the private daemon below DIR, starting the daemon, building the
# guest into DIR/guest and making the pool "qortest" first where needed (qorvm_daemon_start).
# Stop it all with: libvirtd.sh stop DIR.
#
#   define-guest.sh [--guest busybox|debian] [--mac MAC] [--no-agent] [--start] [--wait SECONDS]
#                   DIR NAME
#
# --guest picks the guest (QOR_VM_GUEST otherwise; busybox unless that says debian); one DIR
# holds one kind of guest.
# Its disk is a fresh copy of the guest's disk, the pool volume DIR/pool/NAME.qcow2. --start
# boots it and waits until its agent answers guest-ping (60 s unless --wait says otherwise).
# --no-agent leaves out the agent's channel. Prints the domain's UUID.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() {
  echo "usage: $0 [--guest busybox|debian] [--mac MAC] [--no-agent] [--start] [--wait SECONDS] DIR NAME" >&2
  exit 64
}
mac='' agent=agent start=0 wait=60
while [ $# -gt 0 ]; do
  case $1 in
    --guest) [ $# -ge 2 ] || usage; export QOR_VM_GUEST=$2; shift 2 ;;
    --mac) [ $# -ge 2 ] || usage; mac=$2; shift 2 ;;
    --no-agent) agent=noagent; shift ;;
    --start) start=1; shift ;;
    --wait) [ $# -ge 2 ] || usage; wait=$2; shift 2 ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || usage
dir=$1 name=$2
case $dir in /*) ;; *) dir=$PWD/$dir ;; esac
# shellcheck source=lib.sh
source "$here/lib.sh"
mac=${mac:-$QORVM_MAC_DEFAULT}

qorvm_daemon_start "$dir"

qorvm_define "$name" "$mac" "$agent"
if [ $start -eq 1 ]; then
  qorvm_virsh start "$name" >/dev/null
  if [ "$agent" = agent ]; then qorvm_wait_agent "$name" "$wait"; fi
fi
qorvm_virsh domuuid "$name"

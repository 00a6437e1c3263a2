#!/usr/bin/env bash
# One host over two libvirt connections, each to a private libvirt daemon of its own (tests/vm's
# libvirtd.sh, serving libvirt's test driver: no guests are run). Measures how long
# `qorctl status beta` (a machine of the second daemon) takes while idle, then while the first
# daemon is stopped with SIGSTOP (hung: it takes connections and never answers), then after
# SIGCONT; and what `list` says meanwhile. Not a test: run it by hand.
#
#   bash bench/hung_server.sh [seconds hung]      (default 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
hung_for=${1:-30}
build=${QOR_BUILD_DIR:-$root/build}
bin="$build/Qor.app/Contents/MacOS/qorctl"
host="$build/Qor.app/Contents/MacOS/qor-host"
name=org.qor.Qor

work=$(mktemp -d /tmp/qor-bench-hung.XXXXXX)
chmod 0755 "$work"
bus_pid="" host_pid="" stopped=""
cleanup() {
  [ -z "$stopped" ] || kill -CONT "$stopped" 2>/dev/null || true
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  bash "$root/tests/vm/libvirtd.sh" stop "$work/d1" >/dev/null 2>&1 || true
  bash "$root/tests/vm/libvirtd.sh" stop "$work/d2" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

uris=()
for d in d1 d2; do
  bash "$root/tests/vm/libvirtd.sh" start "$work/$d" >/dev/null
  uris+=("test+unix:///default?socket=$work/$d/run/libvirt/libvirt-sock")
done

{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address
"$host" --backend libvirt --connect "${uris[0]}" --connect "${uris[1]}" --bus-name "$name" &
host_pid=$!
for _ in $(seq 100); do busctl --user status "$name" >/dev/null 2>&1 && break; sleep 0.05; done
# The test driver's default world lives while a connection to it is open: the host's, from its
# first request on, so beta is defined after that.
"$bin" list >/dev/null
cat >"$work/beta.xml" <<'XML'
<domain type='test'><name>beta</name><uuid>bbbbbbbb-0000-4000-8000-000000000001</uuid>
<memory>65536</memory><os><type>hvm</type></os></domain>
XML
virsh -q -c "${uris[1]}" define "$work/beta.xml" >/dev/null

# ms of one `qorctl status beta`, and its status.
timed() {
  local start end rc=0
  start=$(date +%s%N)
  timeout 60 "$bin" status beta >/dev/null 2>&1 || rc=$?
  end=$(date +%s%N)
  echo "$(((end - start) / 1000000)) $rc"
}

echo "list while both answer:"
"$bin" list
idle=()
for _ in $(seq 10); do idle+=("$(timed | cut -d' ' -f1)"); sleep 0.15; done
median=$(printf '%s\n' "${idle[@]}" | sort -n | sed -n 5p)
echo "idle: status beta, median of 10: $median ms (all: ${idle[*]})"

stopped=$(cat "$work/d1/run/daemon.pid")
kill -STOP "$stopped"
echo "first daemon stopped (SIGSTOP); status beta once a second for $hung_for s:"
begin=$(date +%s)
while [ $(($(date +%s) - begin)) -lt "$hung_for" ]; do
  read -r ms rc < <(timed)
  echo "  t=$(($(date +%s) - begin)) s: $ms ms (status $rc)"
  sleep 1
done
echo "list while the first daemon is hung:"
rc=0; "$bin" list || rc=$?; echo "(status $rc)"
kill -CONT "$stopped"
stopped=""
sleep 1
echo "first daemon running again; list:"
rc=0; "$bin" list || rc=$?; echo "(status $rc)"

#!/usr/bin/env bash
# Nobody waits for another client: reads of state and requests to other machines are answered
# at their idle speed while, elsewhere, a managed save, a restore and a destroy run, libvirt
# itself stops answering (its daemon stopped by SIGSTOP), and one machine's guest agent is silent
# with requests waiting on it. Every figure is measured against the idle figure of the same run.
#
#   latency.sh BUNDLE     (BUNDLE: the build's Qor.app)
#
# A read may take its idle time plus QORVM_READ_MARGIN ms (100), two reads in a row never more;
# a lifecycle request while another machine's agent is silent its idle time plus
# QORVM_ACTION_MARGIN ms (250: it copies a disk, whose time varies more). Exits 77 (skipped) without QEMU or a libvirt daemon; gives up on
# its own after QORVM_LATENCY_LIMIT seconds. QOR_VM_GUEST picks the guest (lib.sh).
set -euo pipefail

bundle=$(cd "$1" && pwd)
qorctl_bin=$bundle/Contents/MacOS/qorctl
bus_name=$(grep -A1 '<key>CFBundleIdentifier</key>' "$bundle/Contents/Info.plist" |
  sed -n 's:.*<string>\(.*\)</string>.*:\1:p')

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
qorvm_require qemu-system-x86_64 qemu-img virsh jq dbus-daemon busctl

read_margin=${QORVM_READ_MARGIN:-100}
action_margin=${QORVM_ACTION_MARGIN:-250}
work=$(mktemp -d /tmp/qorvm-latency.XXXXXX)
watchdog="" bus_pid="" host_pid="" daemon_stopped="" waiters=()
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  [ -z "$daemon_stopped" ] || kill -CONT "$daemon_stopped" 2>/dev/null || true
  for p in "${waiters[@]}"; do kill "$p" 2>/dev/null || true; done
  if [ $status -ne 0 ]; then
    echo "--- the daemon's log:" >&2
    tail -n 20 "$work/log/"*.log >&2 2>/dev/null || true
  fi
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  qorvm_daemon_stop || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
qorvm_watchdog "${QORVM_LATENCY_LIMIT:-$(qorvm_limit 420 4)}"

ms() { date +%s%3N; }

# Runs qorctl ARGS… and prints how many milliseconds it took; fails the test if it fails.
timed() {
  local t0 t1
  t0=$(ms)
  timeout 60 "$qorctl_bin" "$@" >"$work/timed.out" 2>"$work/timed.err" ||
    fail "qorctl $* failed: $(cat "$work/timed.err")"
  t1=$(ms)
  echo $((t1 - t0))
}
# The slowest of N runs of qorctl ARGS… when nothing else happens: the bound the same requests
# are held to while something slow runs.
idle() {
  local n=$1 worst=0 t
  shift
  for _ in $(seq "$n"); do
    t=$(timed "$@")
    [ "$t" -gt "$worst" ] && worst=$t
  done
  echo "$worst"
}
# Reads with `list` until the file DONE appears (at most 40 reads); a read must end within
# BOUND ms. One read over it, followed by one within it, is the machine's scheduling (QEMU
# under TCG takes whole cores), not a host holding its reads: two in a row fail. Prints the
# number of reads, the slowest, and the number over the bound.
reads_while() {
  local done_file=$1 bound=$2 n=0 worst=0 over=0 late=0 t
  while [ ! -e "$done_file" ] && [ $n -lt 40 ]; do
    t=$(timed list)
    if [ "$t" -gt "$bound" ]; then
      over=$((over + 1))
      late=$((late + 1))
      [ $late -lt 2 ] || fail "two lists in a row took over $bound ms (the last $t ms) while ${3:-something slow} ran (idle: at most $((bound - read_margin)) ms; after $n reads)"
    else
      late=0
    fi
    [ "$t" -gt "$worst" ] && worst=$t
    n=$((n + 1))
  done
  echo "$n $worst $over"
}
# Runs qorctl ARGS… in the background; the file $work/NAME.rc holds its status once it ends.
behind() {
  local name=$1
  shift
  rm -f "$work/$name.rc"
  (
    set +e
    timeout 120 "$qorctl_bin" "$@" >"$work/$name.out" 2>&1
    echo $? >"$work/$name.rc"
  ) &
}
ended_ok() {
  local name=$1
  for _ in $(seq 1200); do [ -e "$work/$name.rc" ] && break; sleep 0.1; done
  [ "$(cat "$work/$name.rc" 2>/dev/null)" = 0 ] || fail "$name: $(cat "$work/$name.out")"
}

qorvm_daemon_start "$work" >/dev/null || fail "the daemon or the guest image"
qorvm_define vm1
qorvm_define vm2 52:54:00:51:00:02
qorvm_define vm3 52:54:00:51:00:03 noagent
qorvm_virsh start vm1 >/dev/null
qorvm_virsh start vm2 >/dev/null
qorvm_wait_agent vm1 "$QORVM_BOOT_WAIT" || fail "vm1's agent"
qorvm_wait_agent vm2 "$QORVM_BOOT_WAIT" || fail "vm2's agent"

export HOME=$work/home-user XDG_CONFIG_HOME=$work/xdg XDG_RUNTIME_DIR=$work/xdg-run
mkdir -p "$HOME" "$XDG_CONFIG_HOME/qor" "$XDG_RUNTIME_DIR"
bus_pid=$(dbus-daemon --session --address="unix:path=$work/bus" --fork --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
printf 'backend = libvirt\nconnect = %s\n' "$QORVM_URI" >"$XDG_CONFIG_HOME/qor/host.conf"
timed list >/dev/null
host_pid=$(busctl --user status "$bus_name" | sed -n 's/^PID=//p')
ok "daemon at $QORVM_URI; vm1 and vm2 running, vm3 stopped"

idle_list=$(idle 7 list)
bound=$((idle_list + read_margin))
ok "idle: list takes at most $idle_list ms"

# A managed save, watched from its first millisecond; a read after it shows it.
behind save suspend -s vm1
read -r n worst over < <(reads_while "$work/save.rc" "$bound" "a managed save")
ended_ok save
[ "$(timed status vm1 >/dev/null; cat "$work/timed.out")" = paused ] || fail "after suspend -s vm1 is $(cat "$work/timed.out")"
[ "$n" -gt 0 ] || fail "the managed save ended before a read"
ok "during a managed save: $n reads, the slowest $worst ms, $over over the bound (idle $idle_list); then vm1 reads paused"

behind restore start vm1
read -r n worst over < <(reads_while "$work/restore.rc" "$bound" "a restore")
ended_ok restore
[ "$(timed status vm1 >/dev/null; cat "$work/timed.out")" = started ] || fail "after the restore vm1 is $(cat "$work/timed.out")"
ok "during a restore: $n reads, the slowest $worst ms, $over over the bound; then vm1 reads started"

behind destroy stop --kill vm2
read -r n worst over < <(reads_while "$work/destroy.rc" "$bound" "a destroy")
ended_ok destroy
[ "$(timed status vm2 >/dev/null; cat "$work/timed.out")" = stopped ] || fail "after the destroy vm2 is $(cat "$work/timed.out")"
ok "during a destroy: $n reads, the slowest $worst ms, $over over the bound; then vm2 reads stopped"

# libvirt stops answering: the reads answer from what the host saw last.
daemon_stopped=$(cat "$work/run/daemon.pid")
kill -STOP "$daemon_stopped"
: >"$work/stall.rc.pending"
(sleep 2 && mv "$work/stall.rc.pending" "$work/stall.rc") &
read -r n worst over < <(reads_while "$work/stall.rc" "$bound" "a stalled libvirt")
kill -CONT "$daemon_stopped"
daemon_stopped=""
[ "$n" -gt 0 ] || fail "no read while libvirt was stopped"
ok "while libvirt answers nothing for 2 s: $n reads, the slowest $worst ms, $over over the bound"

# One machine's agent is silent with requests waiting on it: another machine's guest requests
# and any machine's lifecycle requests go on at their own speed.
qorvm_virsh start vm2 >/dev/null
qorvm_wait_agent vm2 "$QORVM_BOOT_WAIT" || fail "vm2's agent after its restart"
timed list >/dev/null
idle_exec=$(idle 5 exec vm2 --cmd /bin/true)
idle_clone=0
for i in 1 2; do
  t=$(timed clone vm3 --name "idle-copy-$i")
  [ "$t" -gt "$idle_clone" ] && idle_clone=$t
  timed delete "idle-copy-$i" >/dev/null
done
# shellcheck disable=SC2016 # the guest's shell expands it
qorvm_agent vm1 '{"execute":"guest-exec","arguments":{"path":"/bin/sh","arg":["-c","sleep 1; for p in /proc/[0-9]*; do [ \"$(cat $p/comm)\" = qemu-ga ] && kill -STOP ${p#/proc/}; done"]}}' >/dev/null ||
  fail "stopping vm1's agent"
sleep 2
for i in 1 2 3 4 5 6; do
  timeout 120 "$qorctl_bin" exec vm1 --cmd /bin/true >/dev/null 2>&1 &
  waiters+=($!)
done
sleep 1
worst=0
for _ in 1 2 3; do
  t=$(timed exec vm2 --cmd /bin/true)
  [ "$t" -le $((idle_exec + read_margin)) ] || fail "exec on vm2 took $t ms while vm1's agent was silent (idle: $idle_exec ms)"
  [ "$t" -gt "$worst" ] && worst=$t
done
ok "with vm1's agent silent and 6 requests waiting on it: exec on vm2 at most $worst ms (idle $idle_exec)"
t=$(timed clone vm3 --name busy-copy)
[ "$t" -le $((idle_clone + action_margin)) ] || fail "clone of vm3 took $t ms while vm1's agent was silent (idle: $idle_clone ms)"
read -r n worst over < <(reads_while "$work/never" "$bound" "requests waiting on a silent agent")
ok "and clone of vm3 took $t ms (idle $idle_clone); $n reads, the slowest $worst ms, $over over the bound"

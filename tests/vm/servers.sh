#!/usr/bin/env bash
# One host over two servers with real guests: two private libvirt daemons on this computer, the
# first reached through its socket, the second through qemu+ssh to an OpenSSH server the test
# starts on a loopback port (sshd.sh), each with a running test guest.
#
#   servers.sh BUNDLE     (BUNDLE: the build's Qor.app)
#
# On both: the list grouped by server, a name both servers have refused with the reason, start,
# wait, exec, file push and pull (byte for byte), clone and delete staying on the server. Then
# the second daemon is stopped with SIGSTOP, later killed, then started again:
# - a machine on the first answers `status` at its idle speed (+ QORVM_READ_MARGIN ms, 100; two
#   in a row over it fail) and `exec` at its idle speed (+ the same margin);
# - a request that was under way on the second fails within the keepalive bound, naming its URI;
#   later ones fail at once, naming it; `list` lists the first's machines and ends with 1;
# - once the daemon is back, everything on the second works again.
# Needs root (the second daemon and the ssh server run as the user "qorssh"); exits 77 without
# sshd, QEMU or a libvirt daemon. QOR_VM_GUEST picks the guest (lib.sh).
set -euo pipefail

bundle=$(cd "$1" && pwd)
qorctl=$bundle/Contents/MacOS/qorctl
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$here/lib.sh"
# shellcheck source=sshd.sh
source "$here/sshd.sh"
qorvm_require qemu-system-x86_64 qemu-img virsh jq dbus-daemon busctl ssh-keygen
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root (a test user runs a daemon and sshd)"; exit 77; }
[ -x /usr/sbin/sshd ] || { echo "SKIP: no OpenSSH server (openssh-server)"; exit 77; }

margin=${QORVM_READ_MARGIN:-100}
work=$(mktemp -d /tmp/qorvm-servers.XXXXXX)
chmod 0755 "$work"
watchdog="" bus_pid="" stopped_pid="" a_dir="" b_dir=""
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  [ -z "$stopped_pid" ] || kill -CONT "$stopped_pid" 2>/dev/null || true
  if [ $status -ne 0 ]; then
    echo "--- the daemons' and the ssh server's logs:" >&2
    tail -n 15 "$work"/{a,b}/log/*.log "$work/ssh/sshd.log" >&2 2>/dev/null || true
  fi
  local pid
  pid=$(busctl --user status org.qor.Qor 2>/dev/null | sed -n 's/^PID=//p') || true
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  qorssh_stop
  for d in "$a_dir" "$b_dir"; do
    [ -z "$d" ] || "$here/libvirtd.sh" stop "$d" >/dev/null 2>&1 || true
  done
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
qorvm_watchdog "${QORVM_SERVERS_LIMIT:-$(qorvm_limit 420 2)}"

ms() { date +%s%3N; }
# qorctl ARGS… with its output in $work/out and $work/err; its status becomes the function's.
q() { timeout 120 "$qorctl" "$@" >"$work/out" 2>"$work/err"; }
# Runs qorctl ARGS…, which must succeed, and prints how many milliseconds it took.
timed() {
  local t0
  t0=$(ms)
  q "$@" || fail "qorctl $* failed: $(cat "$work/err")"
  echo $(($(ms) - t0))
}
idle() { # the slowest of N runs of qorctl ARGS…
  local n=$1 worst=0 t
  shift
  for _ in $(seq "$n"); do
    t=$(timed "$@")
    [ "$t" -le "$worst" ] || worst=$t
  done
  echo "$worst"
}

# The two daemons: the first as qortest (lib.sh's default), the second as the ssh user.
use() { # a or b: the daemon lib.sh's functions act on
  QORVM_DIR=$work/$1
  QORVM_URI=$("$here/libvirtd.sh" uri "$QORVM_DIR")
  QORVM_USER=$(cat "$QORVM_DIR/user")
  export QORVM_DIR QORVM_URI QORVM_USER
}
qorssh_user qorssh
b_dir=$work/b
QOR_VM_USER=qorssh qorvm_daemon_start "$b_dir" >/dev/null || fail "the second daemon or the guest"
a_dir=$work/a
qorvm_daemon_start "$a_dir" >/dev/null || fail "the first daemon"
qorssh_start "$work/ssh" qorssh "$b_dir/run" || fail "the ssh server"
a_uri=$("$here/libvirtd.sh" uri "$a_dir")
b_uri=$(qorssh_uri id)

use a
qorvm_define alpha
qorvm_define twin 52:54:00:51:00:03 noagent
use b
qorvm_define beta 52:54:00:51:00:02
qorvm_define twin 52:54:00:51:00:04 noagent
# shellcheck disable=SC2034 # read as ${side}_twin below
a_twin=$(use a && qorvm_virsh domuuid twin | tr a-f A-F)
b_twin=$(use b && qorvm_virsh domuuid twin | tr a-f A-F)

# qorctl launches the host on a private bus, with a home and configuration of the test's own.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/xdg-run
mkdir -p "$XDG_CONFIG_HOME/qor" "$XDG_RUNTIME_DIR"
bus_pid=$(dbus-daemon --session --address="unix:path=$work/bus" --fork --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
printf 'backend = libvirt\nconnect = %s\nconnect = %s\n' "$a_uri" "$b_uri" \
  >"$XDG_CONFIG_HOME/qor/host.conf"

# --- Both servers at work.
q list || fail "list: $(cat "$work/err")"
names=$(awk 'NR > 1 { print $3 }' "$work/out" | tr '\n' ' ')
[ "$names" = "alpha twin beta twin " ] || fail "list is not grouped by server: $(cat "$work/out")"
grep -q "^$b_twin stopped  twin$" "$work/out" || fail "the second's twin: $(cat "$work/out")"
ok "list: the first server's machines, then the second's"

! q status twin || fail "a name on both servers selected one: $(cat "$work/out")"
grep -qF "share the name 'twin', so it names none of them: use the machine's UUID." "$work/err" ||
  fail "the reason for the refusal: $(cat "$work/err")"
grep -qF "Error: Virtual machine not found." "$work/err" || fail "no error line: $(cat "$work/err")"
[ "$(q status "$b_twin" && cat "$work/out")" = stopped ] || fail "the second's twin by UUID"
ok "a name on both servers is refused, and why; the UUID selects"

head -c 300000 /dev/urandom >"$work/data"
for vm in alpha beta; do
  q start "$vm" || fail "start $vm: $(cat "$work/err")"
done
for vm in alpha beta; do
  q wait "$vm" --for agent --timeout "$QORVM_BOOT_WAIT" || fail "wait $vm: $(cat "$work/err")"
  q exec "$vm" --cmd /bin/echo "on $vm" || fail "exec on $vm: $(cat "$work/err")"
  [ "$(cat "$work/out")" = "on $vm" ] || fail "exec on $vm wrote: $(cat "$work/out")"
  timeout 120 "$qorctl" file push "$vm" /tmp/data <"$work/data" || fail "push to $vm"
  timeout 120 "$qorctl" file pull "$vm" /tmp/data >"$work/back" || fail "pull from $vm"
  cmp -s "$work/data" "$work/back" || fail "the file came back from $vm changed"
done
ok "start, wait, exec, and 300,000 bytes pushed and pulled back unchanged on both"

# A pty is a path on its machine's server: the remote one's says so.
q attach alpha || fail "attach alpha: $(cat "$work/err")"
grep -qx 'PTTY: /dev/pts/[0-9]*' "$work/out" || fail "attach alpha: $(cat "$work/out")"
q attach beta || fail "attach beta: $(cat "$work/err")"
grep -qx 'PTTY: /dev/pts/[0-9]* on 127.0.0.1' "$work/out" || fail "attach beta: $(cat "$work/out")"
ok "attach: the local pty as it is, the remote one $(grep PTTY "$work/out")"

# Where a machine named NAME is defined: "a", "b", "ab" or "".
defined_on() {
  local side names
  for side in a b; do
    use "$side"
    names=$(qorvm_virsh list --all --name) || fail "virsh list on $side"
    if grep -qx "$1" <<<"$names"; then printf %s "$side"; fi
  done
}
for side in a b; do
  twin_id=${side}_twin
  q clone "${!twin_id}" --name "copy-$side" || fail "clone on $side: $(cat "$work/err")"
  [ "$(defined_on "copy-$side")" = "$side" ] ||
    fail "the copy of $side's twin is on '$(defined_on "copy-$side")', not $side"
  q delete "copy-$side" || fail "delete copy-$side: $(cat "$work/err")"
  [ -z "$(defined_on "copy-$side")" ] || fail "copy-$side is still defined after delete"
done
q list || fail "list after the copies: $(cat "$work/err")"
! grep -q copy- "$work/out" || fail "a copy is left: $(cat "$work/out")"
ok "clone makes the copy on its machine's server; delete removes it"

# --- The second server stops answering, dies, and comes back.
idle_status=$(idle 7 status alpha)
idle_exec=$(idle 5 exec alpha --cmd /bin/true)
ok "idle: status alpha at most $idle_status ms, exec on alpha at most $idle_exec ms"

# Requests to the first's machine for SECONDS: none may take the idle time + margin twice in a
# row, nor may an exec. Prints the number of requests and the slowest status.
steady() {
  local until=$((SECONDS + $1)) n=0 worst=0 late=0 t
  while [ $SECONDS -lt $until ] && [ $n -lt 300 ]; do
    t=$(timed status alpha)
    [ "$(cat "$work/out")" = started ] || fail "status alpha: $(cat "$work/out")"
    # One late request among fast ones is QEMU under TCG taking a core, not a wait of seconds.
    [ "$t" -le $((idle_status + 10 * margin)) ] ||
      fail "status alpha took $t ms while the second server $2 (idle: $idle_status ms)"
    if [ "$t" -gt $((idle_status + margin)) ]; then
      late=$((late + 1))
      [ $late -lt 2 ] || fail "two status requests in a row took over $((idle_status + margin)) ms (the last $t ms) while the second server $2"
    else
      late=0
    fi
    [ "$t" -le "$worst" ] || worst=$t
    n=$((n + 1))
    sleep 0.05
    if [ $((n % 10)) = 0 ]; then
      t=$(timed exec alpha --cmd /bin/true)
      [ "$t" -le $((idle_exec + margin)) ] ||
        fail "exec on alpha took $t ms while the second server $2 (idle: $idle_exec ms)"
    fi
  done
  echo "$n $worst"
}
# A request to the second's machine fails at once (2 s), naming its URI.
refused_at_once() {
  local t0 t
  t0=$(ms)
  ! q "$@" || fail "qorctl $* succeeded while the second server $what"
  t=$(($(ms) - t0))
  grep -qF "Cannot reach libvirt at $b_uri: " "$work/err" ||
    fail "qorctl $* while the second server $what: $(cat "$work/err")"
  [ "$t" -lt 2000 ] || fail "qorctl $* took $t ms to fail while the second server $what"
}
# list: the first's machines, the second named on standard error, status 1.
partial_list() {
  local rc=0
  q list || rc=$?
  [ $rc = 1 ] || fail "list while the second server $what: status $rc"
  [ "$(awk 'NR > 1 { print $3 }' "$work/out" | tr '\n' ' ')" = "alpha twin " ] ||
    fail "list while the second server $what: $(cat "$work/out")"
  grep -qF "Error: The machines on $b_uri are not listed" "$work/err" ||
    fail "list while the second server $what, standard error: $(cat "$work/err")"
}

stopped_pid=$(cat "$b_dir/run/daemon.pid")
kill -STOP "$stopped_pid"
stop_time=$(ms)
what="is stopped"
# A request under way when the server stopped answering.
(
  set +e
  timeout 120 "$qorctl" exec beta --cmd /bin/true >"$work/inflight.out" 2>&1
  echo $? >"$work/inflight.rc"
  ms >"$work/inflight.end"
) &
read -r n worst < <(steady 20 "is stopped")
ok "second daemon stopped: $n status requests to alpha in 20 s, the slowest $worst ms (idle $idle_status)"
# Keepalive gives the connection up 15 s into the silence; the request's own lane then answers.
for _ in $(seq 100); do
  [ ! -e "$work/inflight.rc" ] || break
  sleep 0.1
done
[ -e "$work/inflight.rc" ] || fail "an exec on beta under way when its server stopped has not ended after $(($(ms) - stop_time)) ms"
took=$(($(cat "$work/inflight.end") - stop_time))
[ "$(cat "$work/inflight.rc")" != 0 ] || fail "the exec on beta succeeded with its server stopped"
grep -qF "Cannot reach libvirt at $b_uri: " "$work/inflight.out" ||
  fail "the exec under way on beta: $(cat "$work/inflight.out")"
ok "the exec under way on beta failed after $took ms: $(grep -F 'Cannot reach' "$work/inflight.out" | head -1)"
refused_at_once status beta
refused_at_once exec beta --cmd /bin/true
partial_list
ok "later requests to beta fail at once naming the server; list is partial and ends with 1"

kill -KILL "$stopped_pid"
stopped_pid=""
what="is dead"
read -r n worst < <(steady 10 "is dead")
refused_at_once status beta
partial_list
ok "second daemon killed: $n status requests to alpha, the slowest $worst ms; beta fails at once"

QOR_VM_USER=qorssh "$here/libvirtd.sh" start "$b_dir" >/dev/null || fail "the second daemon again"
back=""
for _ in $(seq 60); do
  if q list && [ "$(awk 'NR > 1 { print $3 }' "$work/out" | tr '\n' ' ')" = "alpha twin beta twin " ]; then
    back=yes
    break
  fi
  sleep 1
done
[ -n "$back" ] || fail "the second server's machines did not come back: $(cat "$work/out" "$work/err")"
q wait beta --for agent --timeout 60 || fail "beta's agent after the daemon came back: $(cat "$work/err")"
q exec beta --cmd /bin/echo back || fail "exec on beta after the daemon came back: $(cat "$work/err")"
[ "$(cat "$work/out")" = back ] || fail "exec on beta wrote: $(cat "$work/out")"
timeout 120 "$qorctl" file pull beta /tmp/data >"$work/back" || fail "pull from beta again"
cmp -s "$work/data" "$work/back" || fail "the file on beta changed"
q stop --kill beta || fail "stop beta: $(cat "$work/err")"
ok "second daemon back: list whole, exec, pull and stop on beta work again"

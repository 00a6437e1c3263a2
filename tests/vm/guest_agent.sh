#!/usr/bin/env bash
# Guest operations on a real machine: qorctl's file pull/push, exec and ip-address through
# qor-host's libvirt backend and the guest agent of the test guest, on a private bus and a
# private libvirt daemon. Checks what reaches the guest through the agent directly, so that a
# fault on both sides cannot hide itself. Exits 77 (skipped) without QEMU or libvirt;
# everything it starts it stops; it gives up after QORVM_AGENT_LIMIT seconds (420 on the busybox
# guest, more for a slower one: qorvm_limit). QOR_VM_GUEST picks the guest (lib.sh).
#
#   guest_agent.sh BUNDLE       (BUNDLE: the built Qor.app)
set -euo pipefail

bundle=${1:?usage: guest_agent.sh BUNDLE}
qorctl=$bundle/Contents/MacOS/qorctl
host=$bundle/Contents/MacOS/qor-host

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
source "$here/lib.sh"
qorvm_require qemu-system-x86_64 virsh jq dbus-daemon busctl sha256sum

work=$(mktemp -d /tmp/qorvm-agent.XXXXXX)
watchdog='' bus_pid='' host_pid=''
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  [ -z "$watchdog" ] || kill "$watchdog" 2>/dev/null || true
  if [ $status -ne 0 ]; then
    echo "--- qor-host's output:" >&2
    tail -n 20 "$work/host.log" >&2 2>/dev/null || true
  fi
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
  qorvm_daemon_stop || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
qorvm_watchdog "${QORVM_AGENT_LIMIT:-$(qorvm_limit 420 1)}"

hash_of() { sha256sum | cut -d' ' -f1; }
# qorctl, bounded; its status is kept in $status, its stderr in $work/err.
q() {
  set +e
  timeout 60 "$qorctl" "$@" 2>"$work/err"
  status=$?
  set -e
}
said() { grep -q -- "$1" "$work/err" || fail "$2: stderr lacks '$1': $(cat "$work/err")"; }
# Agent file descriptors of qemu-ga in the guest that name PATH.
agent_fds() {
  # shellcheck disable=SC2016 # the guest's shell expands it
  qorvm_exec "$vm" /bin/sh -c 'ls -l /proc/$(pidof qemu-ga)/fd' | grep -c -- "-> $1\$" || true
}

qorvm_daemon_start "$work" >/dev/null || fail "the daemon or the guest image"
vm=agent
qorvm_define "$vm" 52:54:00:51:00:11 || fail "define $vm"
qorvm_define bare 52:54:00:51:00:12 noagent || fail "define bare"
qorvm_virsh start "$vm" >/dev/null || fail "start $vm"
qorvm_wait_agent "$vm" $((QORVM_BOOT_WAIT + 30)) || fail "no agent in $vm"

bus_name=$(sed -n '/CFBundleIdentifier/{n;s/.*<string>\(.*\)<\/string>.*/\1/p}' \
  "$bundle/Contents/Info.plist")
{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address
"$host" --backend libvirt --connect "$QORVM_URI" --bus-name "$bus_name" >"$work/host.log" 2>&1 &
host_pid=$!
for _ in $(seq 100); do busctl --user status "$bus_name" >/dev/null 2>&1 && break; sleep 0.1; done
q list >/dev/null
[ $status -eq 0 ] || fail "qorctl list: $(cat "$work/err")"
ok "qor-host on libvirt answers list"

# Byte-exact both ways; each side checked by the guest's own sha256sum.
for n in 0 1 4095 4096 4097 10000 8388608; do
  head -c "$n" /dev/urandom >"$work/up"
  q file push "$vm" "/tmp/up.$n" <"$work/up"
  [ $status -eq 0 ] || fail "push of $n bytes: $(cat "$work/err")"
  [ "$(qorvm_exec "$vm" /bin/sh -c "sha256sum /tmp/up.$n" | cut -d' ' -f1)" = "$(hash_of <"$work/up")" ] ||
    fail "the guest's copy of $n pushed bytes differs"
  made=$(qorvm_exec "$vm" /bin/sh -c "head -c $n /dev/urandom >/tmp/down.$n && sha256sum /tmp/down.$n") ||
    fail "making /tmp/down.$n"
  q file pull "$vm" "/tmp/down.$n" >"$work/down"
  [ $status -eq 0 ] || fail "pull of $n bytes: $(cat "$work/err")"
  { [ "$(stat -c %s "$work/down")" -eq "$n" ] && [ "$(hash_of <"$work/down")" = "${made%% *}" ]; } ||
    fail "pulled $(stat -c %s "$work/down") bytes that differ from the guest's $n"
  qorvm_exec "$vm" /bin/rm -f "/tmp/up.$n" "/tmp/down.$n" || fail "rm"
done
ok "push and pull: 0, 1, 4095, 4096, 4097, 10000 bytes and 8 MiB, byte for byte"

q file pull "$vm" /no/such/file
[ $status -eq 1 ] || fail "pull of a missing file: status $status"
said "No such file or directory" "pull of a missing file"
q file pull "$vm" /tmp
[ $status -eq 1 ] || fail "pull of a directory: status $status"
said "Is a directory" "pull of a directory"
q file push "$vm" /no/such/folder/file <<<"data"
[ $status -eq 1 ] || fail "push into a missing folder: status $status"
said "No such file or directory" "push into a missing folder"
ok "pull of a missing file and of a directory, push into a missing folder: status 1, said why"

set +e
out=$(timeout 60 "$qorctl" exec "$vm" --cmd /bin/sh -c 'echo out; echo err >&2; exit 3' 2>"$work/err")
status=$?
set -e
{ [ $status -eq 3 ] && [ "$out" = out ] && [ "$(cat "$work/err")" = err ]; } ||
  fail "exec with both streams: status $status, out '$out', err '$(cat "$work/err")'"
head -c 100000 /dev/urandom >"$work/in"
q exec "$vm" --input --cmd /bin/cat <"$work/in" >"$work/out"
{ [ $status -eq 0 ] && cmp -s "$work/in" "$work/out"; } || fail "binary input through cat: status $status"
# shellcheck disable=SC2016 # the guest's shell expands them
out=$(timeout 60 "$qorctl" exec "$vm" --env FOO=bar --env 'BAZ=two words' --cmd /bin/sh -c 'echo "$FOO/$BAZ"')
[ "$out" = "bar/two words" ] || fail "environment: '$out'"
for code in 0 1 255; do
  q exec "$vm" --cmd /bin/sh -c "exit $code"
  [ $status -eq "$code" ] || fail "exit $code came back as $status"
done
# shellcheck disable=SC2016
q exec "$vm" --cmd /bin/sh -c 'kill -TERM $$'
[ $status -eq 143 ] || fail "a program ended by SIGTERM gave $status, not 128 + 15"
# A program that runs a while: qorctl's GetResults are held by the host meanwhile.
started=$EPOCHREALTIME
q exec "$vm" --cmd /bin/sh -c 'sleep 1; echo done'
took=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
[ $status -eq 0 ] || fail "sleep 1 in the guest: status $status"
awk -v t="$took" 'BEGIN { exit !(t >= 1 && t < 4) }' || fail "sleep 1 in the guest took $took s"
ok "exec: both streams, binary input, environment, exit codes 0, 1, 255 a signal, and a program that runs a second"

q exec "$vm" --cmd /bin/sh -c 'head -c 4000000 /dev/zero'
[ $status -ne 0 ] || fail "4 MB of output came back as success"
said "too large" "output beyond what libvirt carries"
head -c 200000 /dev/urandom >"$work/in"
q exec "$vm" --input --cmd /bin/cat <"$work/in"
[ $status -ne 0 ] || fail "200 KB of input came back as success"
said "too large" "input beyond what the agent takes"
q exec "$vm" --cmd /bin/true
[ $status -eq 0 ] || fail "the agent is unusable after too much output: $(cat "$work/err")"
ok "output and input beyond what gets through: an error, status not 0; the agent still answers"

q ip-address "$vm" >"$work/out"
{ [ $status -eq 0 ] && [ "$(cat "$work/out")" = 10.0.2.15 ]; } ||
  fail "ip-address: status $status, '$(cat "$work/out")'"
ok "ip-address: 10.0.2.15"

qorvm_virsh suspend "$vm" >/dev/null || fail "suspend"
q exec "$vm" --cmd /bin/true
[ $status -eq 1 ] || fail "exec on a paused machine: status $status"
said "paused" "exec on a paused machine"
qorvm_virsh resume "$vm" >/dev/null || fail "resume"
qorvm_virsh start bare >/dev/null || fail "start bare"
q ip-address bare
[ $status -eq 1 ] || fail "ip-address without an agent: status $status"
said "has no guest agent" "a machine without an agent"
qorvm_virsh destroy bare >/dev/null || fail "destroy bare"
q file pull bare /etc/hostname
[ $status -eq 1 ] || fail "pull from a stopped machine: status $status"
said "not running" "a stopped machine"
ok "paused, without an agent, stopped: status 1, said which"

# The agent stops itself for 25 s (its child, the shell, wakes it again).
# shellcheck disable=SC2016
qorvm_agent "$vm" '{"execute":"guest-exec","arguments":{"path":"/bin/sh","arg":["-c",
  "sleep 0.5; kill -STOP $(pidof qemu-ga); sleep 25; kill -CONT $(pidof qemu-ga)"]}}' >/dev/null ||
  fail "freezing the agent"
sleep 1.5
started=$SECONDS
set +e
timeout 60 "$qorctl" exec "$vm" --cmd /bin/true 2>"$work/frozen" &
frozen=$!
sleep 1
list_started=$EPOCHREALTIME
timeout 30 "$qorctl" list >/dev/null || fail "list while an agent does not answer"
list_took=$(awk -v a="$list_started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
wait "$frozen"
status=$?
set -e
took=$((SECONDS - started))
[ $status -ne 0 ] || fail "exec with a frozen agent succeeded"
grep -q "does not answer" "$work/frozen" || fail "frozen agent: $(cat "$work/frozen")"
[ $took -le 15 ] || fail "the frozen agent's error took $took s"
awk -v t="$list_took" 'BEGIN { exit !(t < 3) }' || fail "list took $list_took s meanwhile"
qorvm_wait_agent "$vm" 60 || fail "the agent did not wake"
ok "a frozen agent: an error within $took s; list answered meanwhile in $list_took s"

# Ctrl-C of a pull held up by a full pipe: the guest file is closed once qorctl has gone.
qorvm_exec "$vm" /bin/sh -c 'head -c 8388608 /dev/urandom >/tmp/held' || fail "making /tmp/held"
mkfifo "$work/fifo"
env --default-signal=INT "$qorctl" file pull "$vm" /tmp/held >"$work/fifo" 2>/dev/null &
puller=$!
exec 3<"$work/fifo"
for _ in $(seq 50); do [ "$(agent_fds /tmp/held)" -eq 1 ] && break; sleep 0.2; done
[ "$(agent_fds /tmp/held)" -eq 1 ] || fail "the pull never had /tmp/held open"
kill -INT "$puller"
set +e
wait "$puller"
status=$?
set -e
exec 3<&-
[ $status -eq 130 ] || fail "the interrupted pull ended with $status"
for _ in $(seq 50); do [ "$(agent_fds /tmp/held)" -eq 0 ] && break; sleep 0.2; done
[ "$(agent_fds /tmp/held)" -eq 0 ] || fail "the agent still has /tmp/held open"
ok "Ctrl-C of a pull: the agent's file is closed afterwards"

kill -0 "$host_pid" 2>/dev/null || fail "qor-host has gone"
q list >/dev/null
[ $status -eq 0 ] || fail "list at the end: $(cat "$work/err")"

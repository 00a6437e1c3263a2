#!/usr/bin/env bash
# A private libvirt daemon for tests, with every file it keeps below DIR:
#
#   libvirtd.sh start DIR   start it (or find it running), wait until it answers, print its URI
#   libvirtd.sh stop DIR    destroy its running machines, stop it, end any QEMU it left behind
#   libvirtd.sh uri DIR     print its URI: qemu+unix:///session?socket=DIR/run/libvirt/libvirt-sock
#
# The daemon runs in libvirt's session (unprivileged) mode. Run as root, it runs as the system
# user "qortest" (created on first use, no home, no login shell; QOR_VM_USER names another):
# root's own qemu:///session is the system daemon's socket, and libvirt's system mode wants the
# libvirt-qemu user and the setup of libvirt-daemon-system, which this avoids. Run as anyone
# else, it runs as that user. DIR is given to the daemon's user; it must be reachable by it
# (a fresh folder under /tmp is). Folders below DIR:
#   home/ config/ cache/ run/   the daemon's HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME and
#                               XDG_RUNTIME_DIR: domain definitions and managed save images
#                               in config/libvirt/qemu/, QEMU logs in cache/libvirt/qemu/log/,
#                               sockets and QEMU pid files in run/libvirt/
#   log/                        the daemon's own log (warnings and errors) and its output
# Nothing else on the machine is touched: no system daemon, socket, network or firewall rule.
set -euo pipefail

usage() { echo "usage: $0 start|stop|uri DIR" >&2; exit 64; }
[ $# -eq 2 ] || usage
action=$1
dir=$2
case $dir in /*) ;; *) dir=$PWD/$dir ;; esac

die() { echo "libvirtd.sh: $*" >&2; exit 1; }

# libvirtd carries the storage driver that pool volumes need; virtqemud alone does not.
daemon=
for candidate in /usr/sbin/libvirtd /usr/sbin/virtqemud; do
  if [ -x "$candidate" ]; then daemon=$candidate; break; fi
done
daemon_name=${daemon##*/}
case $daemon_name in
  virtqemud) socket_name=virtqemud-sock ;;
  *) socket_name=libvirt-sock ;;
esac

socket=$dir/run/libvirt/$socket_name
uri="qemu+unix:///session?socket=$socket"
pidfile=$dir/run/daemon.pid

caps_dir=cache/libvirt/qemu/cache/capabilities
caps_cache=${XDG_CACHE_HOME:-$HOME/.cache}/qor-test-guest/libvirt-capabilities

keep_capabilities() {
  compgen -G "$dir/$caps_dir/*.xml" >/dev/null || return 0
  if [ -d "$caps_cache" ] && diff -rq "$dir/$caps_dir" "$caps_cache" >/dev/null 2>&1; then
    return 0
  fi
  local part
  mkdir -p "${caps_cache%/*}"
  part=$(mktemp -d "$caps_cache.XXXXXX")
  cp "$dir/$caps_dir"/*.xml "$part/"
  rm -rf "$caps_cache"
  mv -T "$part" "$caps_cache" 2>/dev/null || rm -rf "$part"
}

daemon_pid() { # the daemon's pid, when it is alive and really ours
  local pid
  [ -f "$pidfile" ] || return 1
  pid=$(cat "$pidfile")
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
  case $(tr '\0' ' ' <"/proc/$pid/cmdline") in *"--pid-file $pidfile "*) ;; *) return 1 ;; esac
  echo "$pid"
}

virsh_() { timeout 30 virsh -q -c "$uri" "$@"; }

start() {
  [ -n "$daemon" ] || die "no libvirt daemon (install libvirt-daemon libvirt-daemon-driver-qemu)"
  command -v virsh >/dev/null || die "virsh is missing (install libvirt-clients)"
  [ ${#socket} -lt 100 ] || die "DIR is too long for a unix socket path: $socket"
  if daemon_pid >/dev/null; then
    echo "$uri"
    return
  fi

  local user run_as=()
  if [ "$(id -u)" -eq 0 ]; then
    user=${QOR_VM_USER:-qortest}
    if ! getent passwd "$user" >/dev/null; then
      useradd --system --user-group --no-create-home --home-dir /nonexistent \
        --shell /usr/sbin/nologin --comment "qorctl test VMs" "$user"
    fi
    run_as=(setpriv --reuid="$user" --regid="$user" --init-groups --)
  else
    user=$(id -un)
  fi

  mkdir -p "$dir"
  [ "$(id -u)" -ne 0 ] || chown "$user:" "$dir"
  chmod 0755 "$dir"
  "${run_as[@]}" mkdir -p "$dir"/{home,config/libvirt,cache,run,log}
  "${run_as[@]}" chmod 0700 "$dir/run"
  "${run_as[@]}" test -w "$dir/config" ||
    die "user $user cannot write below $dir (choose a folder it can reach, e.g. under /tmp)"
  echo "$user" >"$dir/user"

  # Warnings and errors only; no listening socket but the unix one.
  "${run_as[@]}" tee "$dir/config/libvirt/$daemon_name.conf" >/dev/null <<EOF
log_outputs = "3:file:$dir/log/$daemon_name.log"
EOF
  # QEMU writes its output straight to its log file: no virtlogd to start and stop.
  "${run_as[@]}" tee "$dir/config/libvirt/qemu.conf" >/dev/null <<EOF
stdio_handler = "file"
EOF

  # QEMU's capabilities, probed at the first start (about 4 s here), are kept between daemons;
  # the daemon checks them against the QEMU and libvirt installed and probes again if stale.
  if compgen -G "$caps_cache/*.xml" >/dev/null; then
    "${run_as[@]}" mkdir -p "$dir/$caps_dir"
    cp "$caps_cache"/*.xml "$dir/$caps_dir/"
    [ "$(id -u)" -ne 0 ] || chown "$user:" "$dir/$caps_dir"/*.xml
  fi

  # Own session, so a Ctrl-C in the caller's terminal leaves the daemon to the caller's cleanup.
  "${run_as[@]}" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
    HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" XDG_CACHE_HOME="$dir/cache" \
    XDG_RUNTIME_DIR="$dir/run" XDG_DATA_HOME="$dir/home/.local/share" \
    setsid "$daemon" --config "$dir/config/libvirt/$daemon_name.conf" --pid-file "$pidfile" \
    </dev/null >"$dir/log/daemon.out" 2>&1 &
  local launcher=$!

  for _ in $(seq 150); do # 30 s
    if daemon_pid >/dev/null && [ -S "$socket" ] && virsh_ version >/dev/null 2>&1; then
      keep_capabilities
      echo "$uri"
      return
    fi
    if ! kill -0 "$launcher" 2>/dev/null && ! daemon_pid >/dev/null; then
      cat "$dir/log/daemon.out" "$dir/log/$daemon_name.log" >&2 2>/dev/null || true
      die "$daemon_name exited at start"
    fi
    sleep 0.2
  done
  stop
  die "$daemon_name did not answer within 30 s"
}

# Ends one process we started, by id: TERM, then KILL after a bounded wait.
end_process() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do # 10 s
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

stop() {
  local pid name qemu_pid f
  if pid=$(daemon_pid); then
    # The daemon leaves running machines alive when it stops: end them first.
    for name in $(virsh_ list --name 2>/dev/null); do
      virsh_ destroy "$name" >/dev/null 2>&1 || true
    done
    end_process "$pid"
  fi
  # QEMU processes that outlived the daemon (it was killed, or a destroy failed).
  for f in "$dir"/run/libvirt/qemu/run/*.pid; do
    [ -f "$f" ] || continue
    qemu_pid=$(cat "$f")
    if [ -n "$qemu_pid" ] && grep -qa qemu-system "/proc/$qemu_pid/cmdline" 2>/dev/null &&
      grep -qaF -- "$dir" "/proc/$qemu_pid/cmdline"; then
      end_process "$qemu_pid"
    fi
  done
  rm -f "$pidfile"
}

case $action in
  start) start ;;
  stop) stop ;;
  uri) echo "$uri" ;;
  *) usage ;;
esac

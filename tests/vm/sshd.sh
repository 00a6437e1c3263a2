# shellcheck shell=bash
# An OpenSSH server for tests that reach a private libvirt daemon through qemu+ssh, the way a
# user reaches another server. Source it from bash, as root. Nothing in anyone's ~/.ssh is
# read or written: the keys, the server's configuration and the client's known hosts are files
# of the test's own.
#
#   qorssh_user USER        make the system user USER (no home, no password) that the daemon and
#                           the server run as; it logs in over ssh, so it has a shell
#   qorssh_start DIR USER RUNTIME
#                           start sshd as USER on a free loopback port, with its keys below DIR;
#                           the sessions it starts get XDG_RUNTIME_DIR=RUNTIME, the daemon's
#                           runtime folder, so that virt-ssh-helper finds the daemon's socket;
#                           sets QORSSH_PORT
#   qorssh_uri KEY          the URI of USER's session daemon through the server, with the key
#                           DIR/KEY: "id" is taken by the server, "wrong" is not
#   qorssh_stop             end the server
#
# The server listens on 127.0.0.1 only and takes only the key made here.

QORSSH_DIR="" QORSSH_USER="" QORSSH_PORT=""

qorssh_user() {
  local user=$1
  if ! getent passwd "$user" >/dev/null; then
    useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /bin/sh \
      --comment "qorctl ssh tests" "$user"
  fi
}

qorssh_start() {
  local dir=$1 user=$2 runtime=$3 key candidate
  QORSSH_DIR=$dir QORSSH_USER=$user QORSSH_PORT=""
  mkdir -p "$dir"
  for key in host_key id wrong; do
    ssh-keygen -q -t ed25519 -N '' -C "qor test" -f "$dir/$key" || return 1
  done
  cp "$dir/id.pub" "$dir/authorized_keys"
  for candidate in $(shuf -i 20000-60000 -n 20); do
    # Free when nothing on the loopback takes a connection there.
    if ! timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$candidate" 2>/dev/null; then
      QORSSH_PORT=$candidate
      break
    fi
  done
  [ -n "$QORSSH_PORT" ] || { echo "qorssh: no free loopback port" >&2; return 1; }
  printf '%s\n' "ListenAddress 127.0.0.1" "Port $QORSSH_PORT" "HostKey $dir/host_key" \
    "AuthorizedKeysFile $dir/authorized_keys" "PidFile $dir/sshd.pid" "StrictModes no" \
    "UsePAM no" "PasswordAuthentication no" "KbdInteractiveAuthentication no" \
    "SetEnv XDG_RUNTIME_DIR=$runtime" >"$dir/sshd_config"
  chown -R "$user:" "$dir"
  setpriv --reuid="$user" --regid="$user" --init-groups -- \
    /usr/sbin/sshd -f "$dir/sshd_config" -E "$dir/sshd.log" || return 1
  for _ in $(seq 50); do
    [ -s "$dir/sshd.pid" ] && break
    sleep 0.1
  done
  [ -s "$dir/sshd.pid" ] || { echo "qorssh: sshd did not start: $(cat "$dir/sshd.log")" >&2; return 1; }
  # The client's keys are root's, as ssh wants them; the server's user reads none of them.
  chown root: "$dir/id" "$dir/wrong"
  # ssh looks for known hosts below the passwd entry's home, not $HOME: the test's own file.
  echo "[127.0.0.1]:$QORSSH_PORT $(cat "$dir/host_key.pub")" >"$dir/known_hosts"
  printf '%s\n' '#!/bin/sh' \
    "exec ssh -F none -o UserKnownHostsFile=$dir/known_hosts -o GlobalKnownHostsFile=/dev/null \"\$@\"" \
    >"$dir/client"
  chmod 0755 "$dir/client"
}

qorssh_uri() {
  echo "qemu+ssh://$QORSSH_USER@127.0.0.1:$QORSSH_PORT/session?keyfile=$QORSSH_DIR/$1&proxy=native&command=$QORSSH_DIR/client"
}

qorssh_stop() {
  [ -n "$QORSSH_DIR" ] && [ -s "$QORSSH_DIR/sshd.pid" ] || return 0
  kill "$(cat "$QORSSH_DIR/sshd.pid")" 2>/dev/null || true
}

#!/usr/bin/env bash
# A short walk through qorctl against the simulated host. Installs what is needed, builds, then
# runs each command as you would type it. It always uses a private session bus and a fresh copy
# of the simulated host's default world in a temporary folder, so it can run any number of times
# and never touches your own state or a host already running on your session bus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

export QOR_BUILD_DIR=${QOR_BUILD_DIR:-$root/build}
source "$root/scripts/lib/steps.sh"
step_log_dir "$QOR_BUILD_DIR/logs"
step "Installing the Debian packages that are missing (apt)" setup "$root/scripts/setup.sh"
# Only the two programs the tour runs (the bundle's Info.plist is written when CMake configures);
# scripts/test.sh builds the rest into the same folder.
build_step "Building qorctl and the simulated host into $QOR_BUILD_DIR" build \
  env QOR_BUILD_TARGETS="qorctl qor-host" "$root/scripts/build.sh"
bin="$QOR_BUILD_DIR/Qor.app/Contents/MacOS/qorctl"

work=$(mktemp -d)
bus_pid=""
cleanup() {
  if [ -n "$bus_pid" ]; then kill "$bus_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

{ read -r address; read -r bus_pid; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=$address XDG_STATE_HOME=$work/state
unset QOR_SIM_WORLD QOR_SIM_LOG QOR_SIM_BUS_NAME

# Bold commands on a terminal only: a file or a pipe gets the plain text.
bold="" plain=""
if [ -t 1 ]; then
  bold=$(tput bold 2>/dev/null || true)
  plain=$(tput sgr0 2>/dev/null || true)
fi
say() { printf '\n%s# %s%s\n' "$bold" "$*" "$plain"; }

# The words as they would be typed: quoted where the shell needs it.
typed() {
  local out="" word
  for word in "$@"; do
    if [[ $word =~ ^[A-Za-z0-9_./:=+-]+$ ]]; then
      out+=" $word"
    else
      out+=" '${word//\'/\'\\\'\'}'"
    fi
  done
  printf '%s' "${out# }"
}

# Runs one qorctl command as typed, shows its exit status when it is not 0, and stops the tour
# when the status is not the one expected.
expect() {
  local want=$1
  shift
  printf '%s$ qorctl %s%s\n' "$bold" "$(typed "$@")" "$plain"
  local status=0
  "$bin" "$@" || status=$?
  if [ "$status" -ne 0 ]; then echo "(exit status $status)"; fi
  if [ "$status" -ne "$want" ]; then
    echo "tour: expected exit status $want" >&2
    exit 1
  fi
}
run() { expect 0 "$@"; }

say "The machines the (simulated) host knows; qorctl launches the host on first use."
run list
run status Debian

say "Start a stopped machine, wait until its guest agent answers (a script does so before exec), and look again."
run start "Windows 11"
run wait "Windows 11"
run status "Windows 11"

say "The same answers for programs: one JSON document each."
run list --format json
run status --format json "Windows 11"

say "Run a program in a guest: its output comes back, and its exit code becomes qorctl's."
expect 3 exec Debian --cmd /bin/sh -c 'echo "hello from the guest"; echo "a warning" >&2; exit 3'
printf '%s$ printf "one\\ntwo\\nthree\\n" | qorctl exec Debian --input --cmd wc -l%s\n' "$bold" "$plain"
printf 'one\ntwo\nthree\n' | "$bin" exec Debian --input --cmd wc -l

say "Copy a file into the guest and back, byte for byte."
head -c 1048576 /dev/urandom >"$work/random.bin"
printf '%s$ qorctl file push Debian /home/user/random.bin < random.bin%s\n' "$bold" "$plain"
"$bin" file push Debian /home/user/random.bin <"$work/random.bin"
printf '%s$ qorctl file pull Debian /home/user/random.bin > copy.bin%s\n' "$bold" "$plain"
"$bin" file pull Debian /home/user/random.bin >"$work/copy.bin"
sha256sum "$work/random.bin" "$work/copy.bin" | sed "s|$work/||"
cmp -s "$work/random.bin" "$work/copy.bin" && echo "identical: 1 MiB in 257 requests each way"
run file pull Debian /etc/os-release

say "The guest's addresses (IPv4 first, as the host gives them) and its serial ports."
run ip-address Debian
run attach Debian
run attach --index 1 Debian

say "USB devices the host can share; connect one by VID:PID, disconnect it by location."
run usb list
run usb connect Debian 05AC:024F
run usb disconnect 4

say "Suspend and resume, then shut a machine down by asking its guest."
run suspend Debian
run status Debian
run start Debian
run stop --request "Windows 11"
run wait --for stopped "Windows 11"

say "Clone a machine under a new name, then delete the copy (there is no confirmation)."
run clone "Fedora Server" --name "Fedora Copy"
run list
run delete "Fedora Copy"

say "Mistakes are reported on stderr, with status 1 (or 64 for a wrong command line)."
expect 1 status "No Such Machine"
expect 1 stop --force --kill Debian
expect 64 start

say "Done. 'qorctl help <command>' tells more; see README.md for the rest."

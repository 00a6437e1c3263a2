#!/usr/bin/env bash
# Generates the three completion scripts with the built qorctl and asks bash (with
# bash-completion), zsh and fish for the completions of partial command lines (the shell drivers
# are in lib/completion.sh, shared with the installed-layout check): the command tree's words,
# then the host's machine names and USB devices, on a private bus with no host, then with the
# simulated host running.
# Usage: completion_shells.sh <bundle dir> <build dir>
set -u

bundle=${1:?usage: completion_shells.sh <bundle dir> <build dir>}
qorctl="$bundle/Contents/MacOS/qorctl"
work=$(mktemp -d)
bus_pid=
cleanup() {
  # The host leaves when its bus goes away.
  if [[ -n $bus_pid ]]; then kill "$bus_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/lib/completion.sh"

[[ -x $qorctl ]] || { echo "FAIL: no qorctl at $qorctl" >&2; exit 1; }
for shell in bash zsh fish; do
  "$qorctl" --generate-completion-script "$shell" >"$work/script.$shell" ||
    fail "qorctl --generate-completion-script $shell"
done
completion_from_files "$work/script.bash" "$work/script.zsh" "$work/script.fish"

for shell in bash zsh fish; do
  expect "$shell" "qorctl usb c" exact connect
  expect "$shell" "qorctl fi" exact file
  expect "$shell" "qorctl ip" exact ip-address
  expect "$shell" "qorctl usb " has list connect disconnect
  expect "$shell" "qorctl file " has pull push
  expect "$shell" "qorctl " has list status start suspend stop attach file exec ip-address clone \
    delete usb
  expect "$shell" "qorctl stop vm --" has --force --kill --request --debug --hide --help
  expect "$shell" "qorctl start vm --d" exact --debug --disposable
  expect "$shell" "qorctl suspend vm --s" exact --save-state
  expect "$shell" "qorctl exec vm --e" exact --env
  expect "$shell" "qorctl usb connect vm --h" exact --help --hide
  # After --cmd or --, every word belongs to the guest command or is a value.
  expect "$shell" "qorctl exec vm --cmd ls --" exact
  expect "$shell" "qorctl exec vm --cmd=ls --" exact
  expect "$shell" "qorctl status -- --" exact
  # Options that take only certain words offer those words.
  expect "$shell" "qorctl list --format " exact text json
  expect "$shell" "qorctl usb list --format j" exact json
  expect "$shell" "qorctl wait vm --for " exact agent ip started stopped paused
  expect "$shell" "qorctl wait --for s" exact started stopped
  expect "$shell" "qorctl wait vm --" has --for --timeout --help
done
expect bash "qorctl ip-address --format=" exact text json
# The zsh script also works when sourced rather than autoloaded from $fpath.
ZSH_MODE=source expect zsh "qorctl usb c" exact connect
ZSH_MODE=source expect zsh "qorctl stop vm --" has --force --kill --request

# The host's values. The scripts ask the qorctl being completed, here the build's, through a link
# on $PATH as an installed one would be; the world is the simulated host's default one.
mkdir -p "$work/bin"
ln -s "$qorctl" "$work/bin/qorctl"
export PATH="$work/bin:$PATH" XDG_STATE_HOME="$work/state" QOR_SIM_WORLD="$work/world.json"
unset QOR_SIM_LOG QOR_SIM_BUS_NAME
{ read -r DBUS_SESSION_BUS_ADDRESS && read -r bus_pid; } < <(dbus-daemon --session --fork \
  --print-address=1 --print-pid=1) || { echo "FAIL: dbus-daemon did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS
bus_name=$(grep -A1 '<key>CFBundleIdentifier</key>' "$bundle/Contents/Info.plist" |
  sed -n 's:.*<string>\(.*\)</string>.*:\1:p')
host_running() {
  busctl --address="$DBUS_SESSION_BUS_ADDRESS" call org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus NameHasOwner s "$bus_name" | grep -q true
}

# No host: nothing is offered for the values, none is launched, and the options stay offered
# where they were.
for shell in bash zsh fish; do
  expect "$shell" "qorctl status De" exact
  expect "$shell" "qorctl usb disconnect 0" exact
done
expect bash "qorctl status " exact -d --debug --hide --format -h --help
host_running && fail "completion launched a host"

"$qorctl" list >/dev/null || fail "qorctl list could not launch the host"
host_running || fail "no host is running"
# A candidate as the shell lists it: bash's come quoted for the line already, the others quote on
# insertion.
listed() { if [[ $1 == bash ]]; then printf '%q' "$2"; else printf '%s' "$2"; fi; }
for shell in bash zsh fish; do
  expect "$shell" "qorctl status " has Debian "$(listed "$shell" "macOS Sonoma")" \
    "$(listed "$shell" "Fedora Server")"
  expect "$shell" "qorctl usb connect Debian " has 05AC:024F 0781:5581 1050:0407 4 7 12
  expect "$shell" "qorctl usb disconnect 07" exact 0781:5581
  expect "$shell" "qorctl file pull Deb" exact Debian
  # A UUID once its beginning is typed; the path after the machine is the guest's, not offered.
  expect "$shell" "qorctl ip-address 9A7C" exact 9A7C4E21-3D5B-4F68-8E12-6B0D3C9F2A02
  expect "$shell" "qorctl file pull Debian Deb" exact
  expect "$shell" "qorctl clone --name Deb" exact
  expect "$shell" "qorctl start -a --recovery --dis" exact --disposable
  # What the command then gets: the name as one word, however the shell had to quote it.
  expect_typed "$shell" "qorctl status Win" status "Windows 11"
  expect_typed "$shell" "qorctl usb connect 'Win" usb connect "Windows 11"
  expect_typed "$shell" "qorctl clone --name Copy Fed" clone --name Copy "Fedora Server"
  # Words that bash splits for readline (at = and :) still count as one.
  expect_typed "$shell" "qorctl clone --name=Copy Fed" clone --name=Copy "Fedora Server"
  expect_typed "$shell" "qorctl exec --env A=1 mac" exec --env A=1 "macOS Sonoma"
  expect_typed "$shell" "qorctl usb connect Debian 0781:5" usb connect Debian 0781:5581
done
# Inside an opening quote, bash gives the name as it stands (readline closes the quote).
expect bash "qorctl status \"Win" exact "Windows 11"

if ((failures > 0)); then
  echo "$failures completion check(s) failed" >&2
  exit 1
fi
echo "completion scripts: all checks passed"

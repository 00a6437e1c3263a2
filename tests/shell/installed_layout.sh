#!/usr/bin/env bash
# Installs the build into a throw-away prefix and checks what a user gets: the bundle with qorctl
# linked into bin by a relative link, the installed qorctl reaching the installed host on a
# private bus, the manual, and each shell completing qorctl from the installed script.
# Usage: installed_layout.sh <bundle dir> <build dir>
set -u

build=${2:?usage: installed_layout.sh <bundle dir> <build dir>}
work=$(mktemp -d)
prefix="$work/prefix"
bundle="$prefix/lib/qor/Qor.app"
bus_pid=
host_pid=

cleanup() {
  if [[ -n $bus_pid ]]; then
    kill "$bus_pid" 2>/dev/null
    # The host leaves when its bus goes away; it must not outlive the test folder.
    if [[ -n $host_pid ]]; then
      for _ in {1..50}; do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
      kill "$host_pid" 2>/dev/null
    fi
  fi
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/lib/completion.sh"

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install" >&2
  exit 1
fi

# The layout.
for file in Contents/Info.plist Contents/MacOS/qorctl Contents/MacOS/qor-host; do
  [[ -f $bundle/$file ]] || fail "missing $bundle/$file"
done
for program in qorctl qor-host; do
  [[ -x $bundle/Contents/MacOS/$program ]] || fail "$program is not executable"
done
for file in share/bash-completion/completions/qorctl share/zsh/vendor-completions/_qorctl \
  share/fish/vendor_completions.d/qorctl.fish share/man/man1/qorctl.1; do
  [[ -f $prefix/$file ]] || fail "missing $prefix/$file"
done
link=$(readlink "$prefix/bin/qorctl")
[[ $link == ../lib/qor/Qor.app/Contents/MacOS/qorctl ]] ||
  fail "bin/qorctl should be a relative link into the bundle, is '$link'"
[[ $(readlink -f "$prefix/bin/qorctl") == $(readlink -f "$bundle/Contents/MacOS/qorctl") ]] ||
  fail "bin/qorctl does not resolve to the bundle's qorctl"

# The installed qorctl, started through the link, launches the installed host.
if dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$work/bus" 2>"$work/bus.err"; then
  bus_pid=$(sed -n 2p "$work/bus")
  export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p "$work/bus")
  export XDG_STATE_HOME="$work/state" QOR_SIM_WORLD="$work/world.json"
  unset QOR_SIM_LOG QOR_SIM_BUS_NAME
  "$prefix/bin/qorctl" list >"$work/list.out" 2>"$work/list.err"
  status=$?
  [[ $status == 0 ]] || fail "qorctl list ended with $status: $(cat "$work/list.err")"
  header=$(head -n 1 "$work/list.out")
  [[ $header == "UUID                                 Status   Name" ]] ||
    fail "qorctl list printed '$header' first"
  bus_name=$(grep -A1 '<key>CFBundleIdentifier</key>' "$bundle/Contents/Info.plist" |
    sed -n 's:.*<string>\(.*\)</string>.*:\1:p')
  host_pid=$(busctl --address="$DBUS_SESSION_BUS_ADDRESS" call org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus GetConnectionUnixProcessID s "$bus_name" |
    cut -d' ' -f2)
  [[ -n $host_pid && $(readlink -f "/proc/$host_pid/exe") == \
    $(readlink -f "$bundle/Contents/MacOS/qor-host") ]] ||
    fail "the host serving $bus_name is not the installed qor-host"
else
  fail "dbus-daemon did not start: $(cat "$work/bus.err")"
fi

# The manual renders, and man finds it next to the bin folder on $PATH.
page="$prefix/share/man/man1/qorctl.1"
MANPAGER=cat MANWIDTH=100 man -l "$page" >"$work/man.out" 2>"$work/man.err" ||
  fail "man -l failed: $(cat "$work/man.err")"
[[ ! -s $work/man.err ]] || fail "man -l warned: $(cat "$work/man.err")"
for text in "CLI tool for controlling Qor virtual machines." "qorctl ip-address" \
  "qorctl exec [--debug] [--hide] <identifier>" "EXIT STATUS" "/Applications/Qor.app"; do
  grep -qF -- "$text" "$work/man.out" || fail "the manual lacks '$text'"
done
found=$(PATH="$prefix/bin:$PATH" MANPATH= man -w qorctl 2>/dev/null)
[[ $(readlink -f "$found") == $(readlink -f "$page") ]] ||
  fail "man qorctl finds '$found', not the installed page"

# Each shell completes from the installed script, machine names from the installed qorctl (the
# host it launched above is still running).
completion_from_prefix "$prefix"
export PATH="$prefix/bin:$PATH"
for shell in bash zsh fish; do
  expect "$shell" "qorctl usb c" exact connect
  expect "$shell" "qorctl stop vm --" has --force --kill --request --hide
  expect_typed "$shell" "qorctl status Win" status "Windows 11"
done

if ((failures > 0)); then
  echo "$failures installed layout check(s) failed" >&2
  exit 1
fi
echo "installed layout: all checks passed"

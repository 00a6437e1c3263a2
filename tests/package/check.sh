#!/usr/bin/env bash
# Checks a built qorctl package without installing it: its control fields, exactly the files in
# the places Debian's programs and shells read them, the relative link, then the unpacked tree at
# work: qorctl --help, qorctl launching the packaged host on a private bus, the manual, and each
# shell completing from the packaged scripts, machine names included.
# Usage: check.sh <qorctl_*.deb> [<source folder>]
set -u

deb=${1:?usage: check.sh <qorctl_*.deb> [<source folder>]}
source_dir=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
work=$(mktemp -d)
root="$work/root"
prefix="$root/usr"
bundle="$prefix/lib/qor/Qor.app"
bus_pid=
cleanup() {
  # The host leaves when its bus goes away.
  if [[ -n $bus_pid ]]; then kill "$bus_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
source "$source_dir/tests/shell/lib/completion.sh"

[[ -f $deb ]] || { echo "FAIL: no package at $deb" >&2; exit 1; }

# Control fields: the version the source declares, the libraries the programs link, a session bus.
project_version=$(sed -n 's/^project(qorctl VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[[ $(dpkg-deb -f "$deb" Version) == "$project_version" ]] ||
  fail "package version $(dpkg-deb -f "$deb" Version) is not the project's $project_version"
depends=$(dpkg-deb -f "$deb" Depends)
for wanted in libc6 libsystemd0 libplist3 libutf8proc2 "default-dbus-session-bus | dbus-session-bus"; do
  [[ $depends == *"$wanted"* ]] || fail "Depends lacks $wanted: $depends"
done

# Exactly these files and the one link, nothing else (directories aside).
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 ($7 == "->" ? " -> " $8 : "") }' | sort >"$work/contents"
sort >"$work/expected" <<'LIST'
./usr/bin/qorctl -> ../lib/qor/Qor.app/Contents/MacOS/qorctl
./usr/lib/qor/Qor.app/Contents/Info.plist
./usr/lib/qor/Qor.app/Contents/MacOS/qor-host
./usr/lib/qor/Qor.app/Contents/MacOS/qorctl
./usr/share/bash-completion/completions/qorctl
./usr/share/doc/qorctl/changelog.gz
./usr/share/doc/qorctl/copyright
./usr/share/fish/vendor_completions.d/qorctl.fish
./usr/share/man/man1/qorctl.1.gz
./usr/share/zsh/vendor-completions/_qorctl
LIST
diff -u "$work/expected" "$work/contents" >"$work/contents.diff" ||
  fail "the package holds other files than expected:
$(cat "$work/contents.diff")"

dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x" >&2; exit 1; }
[[ $(readlink -f "$prefix/bin/qorctl") == $(readlink -f "$bundle/Contents/MacOS/qorctl") ]] ||
  fail "usr/bin/qorctl does not resolve to the bundle's qorctl"
"$prefix/bin/qorctl" --help >"$work/help.out" 2>&1 || fail "qorctl --help failed: $(cat "$work/help.out")"
grep -qF "CLI tool for controlling Qor virtual machines." "$work/help.out" ||
  fail "qorctl --help printed: $(head -n 3 "$work/help.out")"
MANPAGER=cat MANWIDTH=100 man -l "$prefix/share/man/man1/qorctl.1.gz" >"$work/man.out" 2>"$work/man.err" ||
  fail "man -l failed: $(cat "$work/man.err")"
[[ ! -s $work/man.err ]] || fail "man -l warned: $(cat "$work/man.err")"
grep -qF "qorctl ip-address" "$work/man.out" || fail "the manual lacks its commands"

# The unpacked qorctl, started through the link, launches the unpacked host; then each shell
# completes from the unpacked scripts, asking that qorctl for the machine names.
export PATH="$prefix/bin:$PATH" XDG_STATE_HOME="$work/state" QOR_SIM_WORLD="$work/world.json"
unset QOR_SIM_LOG QOR_SIM_BUS_NAME
if { read -r DBUS_SESSION_BUS_ADDRESS && read -r bus_pid; } < <(dbus-daemon --session --fork \
  --print-address=1 --print-pid=1); then
  export DBUS_SESSION_BUS_ADDRESS
  qorctl list >"$work/list.out" 2>&1 || fail "qorctl list: $(cat "$work/list.out")"
  grep -q "Windows 11" "$work/list.out" || fail "qorctl list printed: $(cat "$work/list.out")"
  host_pid=$(busctl --address="$DBUS_SESSION_BUS_ADDRESS" call org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus GetConnectionUnixProcessID s org.qor.Qor |
    cut -d' ' -f2)
  [[ -n $host_pid && $(readlink -f "/proc/$host_pid/exe") == \
    $(readlink -f "$bundle/Contents/MacOS/qor-host") ]] ||
    fail "the host serving org.qor.Qor is not the packaged qor-host"
  completion_from_prefix "$prefix"
  for shell in bash zsh fish; do
    expect "$shell" "qorctl usb c" exact connect
    expect_typed "$shell" "qorctl status Win" status "Windows 11"
  done
else
  fail "dbus-daemon did not start"
fi

if ((failures > 0)); then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "package $(basename "$deb"): all checks passed"

#!/usr/bin/env bash
# Generates the three completion scripts with the built qorctl and asks bash (with
# bash-completion), zsh and fish for the completions of partial command lines (the shell drivers
# are in lib/completion.sh, shared with the installed-layout check).
# Usage: completion_shells.sh <bundle dir> <build dir>
set -u

bundle=${1:?usage: completion_shells.sh <bundle dir> <build dir>}
qorctl="$bundle/Contents/MacOS/qorctl"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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
  expect "$shell" "qorctl status -- --" exact
done
# The zsh script also works when sourced rather than autoloaded from $fpath.
ZSH_MODE=source expect zsh "qorctl usb c" exact connect
ZSH_MODE=source expect zsh "qorctl stop vm --" has --force --kill --request

if ((failures > 0)); then
  echo "$failures completion check(s) failed" >&2
  exit 1
fi
echo "completion scripts: all checks passed"

#!/usr/bin/env bash
# Generates the three completion scripts with the built qorctl and asks bash (with
# bash-completion), zsh and fish for the completions of partial command lines.
# Usage: completion_shells.sh <bundle dir> <build dir>
set -u

bundle=${1:?usage: completion_shells.sh <bundle dir> <build dir>}
qorctl="$bundle/Contents/MacOS/qorctl"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

[[ -x $qorctl ]] || { echo "FAIL: no qorctl at $qorctl" >&2; exit 1; }
for shell in bash zsh fish; do
  command -v "$shell" >/dev/null || { echo "FAIL: $shell is not installed" >&2; exit 1; }
  "$qorctl" --generate-completion-script "$shell" >"$work/script.$shell" ||
    fail "qorctl --generate-completion-script $shell"
done
[[ -f /usr/share/bash-completion/bash_completion ]] || fail "bash-completion is not installed"

# Each function prints the candidates for the line, one per line, sorted.
complete_bash() {
  bash --norc --noprofile -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    line=$2
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    spec=$(complete -p qorctl) || exit 1
    function=${spec##*-F }
    function=${function%% *}
    COMPREPLY=()
    "$function" qorctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"
  ' complete_bash "$work/script.bash" "$1" | sed '/^$/d' | sort
}

# zsh completes only inside its line editor, so a zsh runs on a pseudo-terminal, the line is
# typed followed by a tab, and compadd is wrapped to record what the completion functions add.
mkdir -p "$work/fpath"
cp "$work/script.zsh" "$work/fpath/_qorctl"
cat >"$work/capture.zsh" <<'ZSH'
PROMPT='' RPROMPT=''
if [[ $QOR_ZSH_MODE = fpath ]]; then
  fpath=("$QOR_ZSH_FPATH" $fpath)
  autoload -Uz compinit && compinit -u -D
else
  autoload -Uz compinit && compinit -u -D
  source "$QOR_ZSH_SCRIPT"
fi
compadd() {
  local -a leading=("${(@)argv[1,${argv[(i)(-|--)]}]}")
  # Calls that only collect matches into arrays are the completion system's own bookkeeping.
  if (( ${leading[(I)-[OAD]*]} )); then builtin compadd "$@"; return; fi
  local -a found
  builtin compadd -O found "$@"
  (( ${#found} )) && print -rl -- "${found[@]}" >>"$QOR_ZSH_OUT"
  builtin compadd "$@"
}
_qor_capture() { zle complete-word; print -r -- '--done--' >>"$QOR_ZSH_OUT"; }
zle -N _qor_capture
bindkey '^I' _qor_capture
ZSH
cat >"$work/drive.zsh" <<'ZSH'
zmodload zsh/zpty || exit 2
zpty qorctl_completion zsh -f -i
zpty -w qorctl_completion "source ${(q)1}"
zpty -w -n qorctl_completion "$2"$'\t'
for i in {1..400}; do
  [[ -f $QOR_ZSH_OUT ]] && grep -qx -- '--done--' "$QOR_ZSH_OUT" && break
  sleep 0.05
done
zpty -d qorctl_completion
ZSH

complete_zsh() {
  local out="$work/zsh.out"
  rm -f "$out"
  QOR_ZSH_MODE=${ZSH_MODE:-fpath} QOR_ZSH_FPATH="$work/fpath" QOR_ZSH_SCRIPT="$work/script.zsh" \
    QOR_ZSH_OUT="$out" timeout 60 zsh -f "$work/drive.zsh" "$work/capture.zsh" "$1" >/dev/null 2>&1
  if ! grep -qx -- '--done--' "$out" 2>/dev/null; then
    echo "(zsh did not complete)"
    return
  fi
  grep -vx -- '--done--' "$out" | sort -u
}

complete_fish() {
  XDG_CONFIG_HOME="$work/fish-config" XDG_DATA_HOME="$work/fish-data" \
    fish --no-config -c 'source $argv[1]; complete -C $argv[2]' "$work/script.fish" "$1" |
    cut -f1 | sort
}

# expect <shell> <line> <exact|has> <words...>: exact compares the whole sorted list of
# candidates; has requires each word among them.
expect() {
  local shell=$1 line=$2 mode=$3
  shift 3
  local got
  got=$("complete_$shell" "$line")
  if [[ $mode == exact ]]; then
    local want
    want=$(printf '%s\n' "$@" | sed '/^$/d' | sort)
    [[ $got == "$want" ]] ||
      fail "$shell: '$line' offered [$(echo $got)], expected exactly [$(echo $want)]"
  else
    local word
    for word in "$@"; do
      grep -qx -- "$word" <<<"$got" || fail "$shell: '$line' offered [$(echo $got)], lacks $word"
    done
  fi
}

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

# Shared by the shell checks: asks bash (with bash-completion), zsh and fish for the completions
# of a partial qorctl command line and compares them with what is expected.
#
# Source it with `work` set to a scratch folder, then choose where the scripts come from:
#   completion_from_files <bash script> <zsh script> <fish script>
#       each shell is handed the script: bash and fish source it, zsh autoloads it from a
#       folder of $fpath (or sources it when ZSH_MODE=source)
#   completion_from_prefix <installation prefix>
#       each shell finds the installed script by its own lookup: bash-completion's loader over
#       $XDG_DATA_DIRS, zsh's $fpath, fish's vendor_completions.d over $XDG_DATA_DIRS
# and call `expect` (below). `failures` counts the failed checks.

failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for shell in bash zsh fish; do
  command -v "$shell" >/dev/null || { echo "FAIL: $shell is not installed" >&2; exit 1; }
done
[[ -f /usr/share/bash-completion/bash_completion ]] || fail "bash-completion is not installed"

completion_from_files() {
  completion_prefix=
  completion_bash_script=$1
  completion_zsh_fpath="$work/fpath"
  completion_zsh_script=$2
  completion_fish_script=$3
  mkdir -p "$completion_zsh_fpath"
  cp "$2" "$completion_zsh_fpath/_qorctl"
}

completion_from_prefix() {
  completion_prefix=$1
  completion_bash_script=
  completion_zsh_fpath="$1/share/zsh/vendor-completions"
  completion_zsh_script="$completion_zsh_fpath/_qorctl"
  completion_fish_script=
}

# Each function prints the candidates for the line, one per line, sorted.
complete_bash() {
  # Without a script of its own, bash-completion loads one on demand, as for a typed command.
  XDG_DATA_DIRS=${completion_prefix:+$completion_prefix/share} \
    BASH_COMPLETION_USER_DIR="$work/bash-user" bash --norc --noprofile -c '
    source /usr/share/bash-completion/bash_completion
    if [[ -n $1 ]]; then source "$1"; else __load_completion qorctl || exit 1; fi
    line=$2
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    registration=$(complete -p qorctl) || exit 1
    function=${registration##*-F }
    function=${function%% *}
    COMPREPLY=()
    "$function" qorctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"
  ' complete_bash "$completion_bash_script" "$1" | sed '/^$/d' | sort
}

# zsh completes only inside its line editor, so a zsh runs on a pseudo-terminal, the line is
# typed followed by a tab, and compadd is wrapped to record what the completion functions add.
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
  QOR_ZSH_MODE=${ZSH_MODE:-fpath} QOR_ZSH_FPATH="$completion_zsh_fpath" \
    QOR_ZSH_SCRIPT="$completion_zsh_script" QOR_ZSH_OUT="$out" \
    timeout 60 zsh -f "$work/drive.zsh" "$work/capture.zsh" "$1" >/dev/null 2>&1
  if ! grep -qx -- '--done--' "$out" 2>/dev/null; then
    echo "(zsh did not complete)"
    return
  fi
  grep -vx -- '--done--' "$out" | sort -u
}

complete_fish() {
  if [[ -n $completion_fish_script ]]; then
    XDG_CONFIG_HOME="$work/fish-config" XDG_DATA_HOME="$work/fish-data" \
      fish --no-config -c 'source $argv[1]; complete -C $argv[2]' "$completion_fish_script" "$1"
  else
    # fish reads its vendor folders in its own startup file, and autoloads the completions of a
    # command it finds on $PATH.
    PATH="$completion_prefix/bin:$PATH" XDG_DATA_DIRS="$completion_prefix/share" \
      XDG_CONFIG_HOME="$work/fish-config" XDG_DATA_HOME="$work/fish-data" \
      fish -c 'complete -C $argv[1]' "$1"
  fi | cut -f1 | sort
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
      grep -qxF -- "$word" <<<"$got" || fail "$shell: '$line' offered [$(echo $got)], lacks $word"
    done
  fi
}

# typed <shell> <line>: types the line into an interactive shell on a pseudo-terminal, presses
# tab, then enter, and prints the arguments that `qorctl` (a shell function standing in for it)
# received, one per line. So what the completion inserted, quoting included, is seen as the
# command will see it. The completion scripts come from the same place as for `expect`, and they
# ask the real qorctl on $PATH for the host's values.
cat >"$work/typed.zsh" <<'ZSH'
zmodload zsh/zpty || exit 2
zpty typed "$1"
zpty -r typed output '*READY> *' || exit 3
zpty -w -n typed "$2"$'\t'
zpty -w -n typed $'\r'
for i in {1..400}; do
  [[ -f $QOR_TYPED_OUT ]] && break
  sleep 0.05
done
zpty -d typed
ZSH
typed_stand_in='qorctl() { printf "%s\n" "$@" >"$QOR_TYPED_OUT.part" && mv "$QOR_TYPED_OUT.part" "$QOR_TYPED_OUT"; }'
cat >"$work/typed.bashrc" <<BASH
PS1='READY> '
source /usr/share/bash-completion/bash_completion
if [[ -n \$QOR_TYPED_SCRIPT ]]; then source "\$QOR_TYPED_SCRIPT"; else __load_completion qorctl; fi
$typed_stand_in
BASH
mkdir -p "$work/typed-zdot"
cat >"$work/typed-zdot/.zshrc" <<ZSH
PROMPT='READY> ' RPROMPT=''
fpath=("\$QOR_ZSH_FPATH" \$fpath)
autoload -Uz compinit && compinit -u -D
$typed_stand_in
ZSH

typed() {
  local shell=$1 line=$2 out="$work/typed.out" command
  rm -f "$out"
  case $shell in
    bash)
      command="bash --rcfile ${work@Q}/typed.bashrc -i"
      [[ -z $completion_prefix ]] || command="XDG_DATA_DIRS=${completion_prefix@Q}/share $command"
      ;;
    zsh) command="ZDOTDIR=${work@Q}/typed-zdot zsh -i" ;;
    fish)
      command="fish --no-config -i -C 'function fish_prompt; echo -n \"READY> \"; end' -C 'function qorctl; printf \"%s\n\" \$argv >\$QOR_TYPED_OUT; end'"
      if [[ -n $completion_fish_script ]]; then
        command+=" -C 'source ${completion_fish_script@Q}'"
      else
        command="XDG_DATA_DIRS=${completion_prefix@Q}/share fish -i -C 'function fish_prompt; echo -n \"READY> \"; end' -C 'function qorctl; printf \"%s\n\" \$argv >\$QOR_TYPED_OUT; end'"
      fi
      ;;
  esac
  QOR_TYPED_OUT=$out QOR_TYPED_SCRIPT=$completion_bash_script QOR_ZSH_FPATH=$completion_zsh_fpath \
    XDG_CONFIG_HOME="$work/fish-config" XDG_DATA_HOME="$work/fish-data" TERM=xterm \
    timeout 60 zsh -f "$work/typed.zsh" "$command" "$line" >/dev/null 2>&1
  if [[ -f $out ]]; then cat "$out"; else echo "($shell ran nothing)"; fi
}

# expect_typed <shell> <line> <argument...>: the arguments qorctl gets once the line is completed.
expect_typed() {
  local shell=$1 line=$2
  shift 2
  local got want
  got=$(typed "$shell" "$line")
  want=$(printf '%s\n' "$@")
  [[ $got == "$want" ]] ||
    fail "$shell: '$line' + tab ran qorctl with [$(echo $got)], expected [$(echo $want)]"
}

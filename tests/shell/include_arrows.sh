#!/usr/bin/env bash
# The arrows between the project's folders, as ARCHITECTURE.md draws them, checked against every
# project include (#include "folder/..."): a file may include from its own folder and from the
# folders its rule names, nothing else. Edit the table when the drawing changes.
#
# One line per folder: "folder: folders it may include". A folder may be a subfolder
# (host/core); a file follows the rule of the longest folder that contains it, so a subfolder's
# line tightens its parent's. Its own folder (with its subfolders) is always allowed.
arrows=(
  "entry:     commands cli scripting contract wire support"
  "commands:  cli scripting contract support"
  "cli:       support"
  "scripting: wire contract support"
  "wire:      contract support"
  "contract:"
  "support:"
  "host:      contract wire support"
  "host/backend:     contract support"
  "host/core:        host/backend contract support"
  "host/objects:     host/core host/backend contract"
  "host/diagnostics: host/core host/backend contract support"
  "host/bus:         host/diagnostics host/core host/backend host/settings contract wire support"
  "host/settings:    host/backend contract support"
  "host/simulated:   host/backend contract support"
  "host/libvirt:     host/backend contract support"
  "host/servers:     host/backend contract support"
)
# Folders whose files may include anything of the project.
exempt=(tests fuzz bench)
#
# Includes of a path outside these folders (the generated "version.h", a test's own helpers) and
# system includes (#include <...>) are not arrows and are not checked.
# Usage: include_arrows.sh [ignored...]; QOR_SOURCE_DIR checks another tree.
set -u
root=${QOR_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}

declare -A allowed=()
for line in "${arrows[@]}"; do
  folder=${line%%:*}
  read -r -a targets <<<"${line#*:}"
  allowed[$folder]="${targets[*]}"
done

# The project's top folders: an include is an arrow when it starts with one of them.
declare -A project=()
for folder in "${!allowed[@]}" "${exempt[@]}"; do project[${folder%%/*}]=1; done

# Sets `folder` to the longest folder in the table that contains the file; empty when none does.
rule_for() {
  local path=$1
  folder=""
  while [[ $path == */* ]]; do
    path=${path%/*}
    if [[ -n ${allowed[$path]+set} ]]; then
      folder=$path
      return
    fi
  done
}

# True when `include` lies in `folder` or below it.
inside() { [[ $1 == "$2"/* ]]; }

cd "$root" || exit 1
# The sources as git sees them (tracked or new, ignored build folders left out), else a walk
# that skips build and package folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard -- \
    '*.h' '*.hpp' '*.cpp' '*.cc')
else
  mapfile -t files < <(find . \( -name 'build*' -o -name dist -o -name 'obj-*' -o -name '.*' \
    ! -name . \) -prune -o -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o \
    -name '*.cc' \) -print | sed 's|^\./||' | sort)
fi

failures=0
checked=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for file in "${files[@]}"; do
  [[ -f $file ]] || continue  # deleted but not yet staged
  skip=0
  for folder in "${exempt[@]}"; do inside "$file" "$folder" && skip=1; done
  ((skip)) && continue
  checked=$((checked + 1))
  rule_for "$file"
  while IFS=: read -r number text; do
    [[ $text =~ \"([^\"]*)\" ]] || continue
    include=${BASH_REMATCH[1]}
    if [[ $include == *..* ]]; then
      fail "$file:$number: #include \"$include\" climbs out of its folder; name the folder instead"
      continue
    fi
    [[ $include == */* && -n ${project[${include%%/*}]+set} ]] || continue
    if [[ -z $folder ]]; then
      # A source outside every folder of the table: the table must say where it stands.
      fail "$file:$number: #include \"$include\" from a folder that has no line in the table"
      continue
    fi
    inside "$include" "$folder" && continue
    ok=0
    for target in ${allowed[$folder]}; do inside "$include" "$target" && ok=1; done
    ((ok)) && continue
    fail "$file:$number: #include \"$include\" breaks the rule" \
      "$folder -> ${allowed[$folder]:-(nothing)}"
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
done

# A check that saw nothing proves nothing.
((checked > 0)) || fail "no sources found below $root"
if ((failures > 0)); then
  echo "$failures include(s) against the arrows; see the table at the top of $0" >&2
  exit 1
fi
echo "$checked files checked against the arrows"

#!/usr/bin/env bash
# Every C++ source of the project is formatted as .clang-format says: clang-format would change
# nothing. Lists the files it would change and how to fix them; skipped (77) where clang-format
# is not installed (scripts/setup.sh installs it).
# Usage: format.sh [ignored...]; QOR_SOURCE_DIR checks another tree.
set -u
root=${QOR_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
if ! command -v clang-format >/dev/null 2>&1; then
  echo "SKIP: clang-format is not installed"
  exit 77
fi
cd "$root" || exit 1

# The sources as git sees them (build folders are ignored there), else a walk that skips build
# and package folders; the fuzz corpus holds inputs, not sources.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard -- \
    '*.h' '*.hpp' '*.cpp' '*.cc' ':!:fuzz/corpus/**')
else
  mapfile -t files < <(find . \( -name 'build*' -o -name dist -o -name 'obj-*' -o -name '.*' \
    ! -name . -o -path ./fuzz/corpus \) -prune -o -type f \( -name '*.h' -o -name '*.hpp' -o \
    -name '*.cpp' -o -name '*.cc' \) -print | sed 's|^\./||' | sort)
fi

if ((${#files[@]} == 0)); then
  echo "FAIL: no sources found below $root" >&2
  exit 1
fi
differing=()
for file in "${files[@]}"; do
  [[ -f $file ]] || continue  # deleted but not yet staged
  clang-format --style=file --dry-run --Werror "$file" >/dev/null 2>&1 || differing+=("$file")
done

if ((${#differing[@]} > 0)); then
  echo "FAIL: ${#differing[@]} of ${#files[@]} files differ from .clang-format" \
    "($(clang-format --version)):" >&2
  printf '  %s\n' "${differing[@]}" >&2
  echo "Fix them with: clang-format -i <file>..." >&2
  exit 1
fi
echo "${#files[@]} files formatted as .clang-format says"

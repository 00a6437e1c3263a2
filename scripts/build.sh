#!/usr/bin/env bash
# Configures and builds into a build folder (default: build). Extra arguments go to CMake.
# Warnings are errors here, as in CI; a folder configured before keeps the generator it has.
# QOR_BUILD_TARGETS (words) builds only those targets and what they need; by default, everything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QOR_BUILD_DIR:-$root/build}
generator=()
if [ ! -f "$build/CMakeCache.txt" ]; then generator=(-G Ninja); fi
cmake -S "$root" -B "$build" "${generator[@]}" -DQORCTL_WERROR=ON "$@" >/dev/null
targets=()
if [ -n "${QOR_BUILD_TARGETS:-}" ]; then
  read -r -a targets <<<"$QOR_BUILD_TARGETS"
  targets=(--target "${targets[@]}")
fi
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"

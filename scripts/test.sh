#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
export QOR_BUILD_DIR=${QOR_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
cd "$QOR_BUILD_DIR"
ctest --output-on-failure -j "$(nproc)"

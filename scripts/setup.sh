#!/usr/bin/env bash
# Installs every Debian package that building, testing and touring qorctl needs.
# Idempotent: when everything is present it returns without touching apt.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libsystemd-dev libplist-dev libutf8proc-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  dbus-daemon dbus-bin systemd
  bash-completion zsh fish man-db groff-base time
  clang libclang-rt-14-dev hyperfine
  # llvm-symbolizer, which turns addresses in sanitizer reports and libFuzzer's output into
  # names; clang only recommends it, and recommends are not installed.
  llvm-14
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"

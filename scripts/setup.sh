#!/usr/bin/env bash
# Installs every Debian package that building, testing, packaging and touring qorctl needs.
# Idempotent: when everything is present it returns without touching apt.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libsystemd-dev libplist-dev libutf8proc-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  dbus-daemon dbus-bin systemd
  bash-completion zsh fish man-db groff-base time
  clang libclang-rt-dev clang-format hyperfine
  # Real machines (tests/vm): a private libvirt daemon, QEMU without KVM, and what the test
  # guest is built from. libvirt-daemon-system is left out on purpose: it would start the
  # system daemon and add its users and default network; the tests run their own daemon.
  libvirt-daemon libvirt-daemon-driver-qemu libvirt-clients libvirt-dev libvirt-doc libxml2-dev
  qemu-system-x86 qemu-utils busybox-static cpio e2fsprogs jq util-linux
  # The Debian test guest (tests/vm/make-debian-guest.sh) is made with debootstrap.
  debootstrap
  libglib2.0-0 libpcre2-8-0 libnuma1 liburing2 libudev1
  debhelper dpkg-dev fakeroot lintian
  # llvm-symbolizer, which turns addresses in sanitizer reports and libFuzzer's output into
  # names; clang only recommends it, and recommends are not installed.
  llvm
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

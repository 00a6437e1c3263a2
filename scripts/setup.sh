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

# OpenSSH's server, for the tests that reach a daemon through qemu+ssh (tests/vm/servers*.sh):
# they start sshd themselves, on a loopback port with keys of their own. The system's ssh
# service the package brings is neither started nor enabled here.
service_packages=(openssh-server)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=()
for p in "${packages[@]}" "${service_packages[@]}"; do
  installed "$p" || missing+=("$p")
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
services=()
for p in "${service_packages[@]}"; do installed "$p" || services+=("$p"); done
# While they are installed, Debian's policy hook tells their scripts not to start a service.
policy=/usr/sbin/policy-rc.d
own_policy=""
if [ ${#services[@]} -gt 0 ] && [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' >"$policy"
  chmod 0755 "$policy"
  own_policy=yes
  trap 'rm -f "$policy"' EXIT
fi
apt-get install -y -q --no-install-recommends "${missing[@]}"
if [ -n "$own_policy" ]; then
  rm -f "$policy"
  trap - EXIT
fi
if [ ${#services[@]} -gt 0 ] && command -v systemctl >/dev/null; then
  systemctl disable ssh.service ssh.socket >/dev/null 2>&1 || true
fi

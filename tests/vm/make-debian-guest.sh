#!/usr/bin/env bash
# Builds the Debian 12 test guest and copies it into OUTDIR, with the same files as the busybox
# guest (make-guest.sh), so that the same domain XML boots either:
#   vmlinuz      the kernel of linux-image-cloud-amd64, installed in the guest
#   initrd.img   the initramfs that initramfs-tools made in the guest (virtio drivers listed)
#   disk.qcow2   the root file system (ext4, label qorroot, no partition table), with /data/README
#   cmdline      the kernel command line to boot with (root=/dev/vda)
#   versions     what the guest was built from
# The root file system is made by debootstrap (minbase) from the Debian archive this machine's
# apt uses, plus systemd, udev, dbus and qemu-guest-agent, installed without recommends, docs,
# man pages or locales. The agent's own unit starts it, pulled in by its udev rule when the
# virtio port appears, as on any installed Debian. Needs root (debootstrap, chroot).
# The result is cached like the busybox guest's, in ${XDG_CACHE_HOME:-~/.cache}/qor-test-guest,
# keyed by the archive's versions of the packages that go in and this script.
#
# The guest sends nothing off the machine: systemd-networkd gives the virtio NIC the static
# address 10.0.2.15/24 with no gateway (so no default route), no DHCP, no DNS; IPv6 is off on the
# kernel command line; every timer is masked, and so are systemd-timesyncd, the wait for
# "online" and e2scrub. A root shell waits on the serial console (autologin on ttyS0).
set -euo pipefail

usage() { echo "usage: $0 OUTDIR" >&2; exit 64; }
[ $# -eq 1 ] || usage
outdir=$1

suite=bookworm
cmdline="root=/dev/vda rw console=ttyS0 ipv6.disable=1 quiet"
# What the guest gets beyond debootstrap's minbase. procps and iproute2 are for debugging on the
# console (ps, ip); everything else is what a systemd guest with an agent needs.
packages=(systemd systemd-sysv udev dbus qemu-guest-agent initramfs-tools kmod iproute2 procps)
# Modules the initramfs must hold (unless built in) to find the root disk and the agent's port.
initramfs_modules=(virtio_pci virtio_blk virtio_console virtio_net ext4)

die() { echo "make-debian-guest: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "needs root (debootstrap and chroot)"
for tool in debootstrap apt-get apt-cache chroot mkfs.ext4 qemu-img mount umount; do
  command -v "$tool" >/dev/null || die "$tool is missing (run scripts/setup.sh)"
done

# The archive: the Debian entries of this machine's apt, for this release (main, updates,
# security), and no other host.
mapfile -t archive < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' \
  'Created-By: Packages' 2>/dev/null |
  awk -v s="$suite" '$2 == s || index($2, s "-") == 1' | LC_ALL=C sort -u)
mirror=
for line in "${archive[@]}"; do
  read -r uri release _ <<<"$line"
  if [ "$release" = "$suite" ]; then mirror=$uri; break; fi
done
[ -n "$mirror" ] || die "this machine's apt has no $suite archive (run apt-get update once)"

candidate_versions() { # one line per package, in the order given
  apt-cache policy "$@" 2>/dev/null | awk -v names="$*" '/^[^ ]+:$/ { p = $1 }
    /Candidate:/ { v[p] = $2 } END { n = split(names, a, " "); for (i = 1; i <= n; i++) print v[a[i] ":"] }'
}
kernel_pkg=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null |
  awk '/Depends: linux-image-[0-9].*-cloud-amd64/ && !n++ { print $2 }')
[ -n "$kernel_pkg" ] || die "apt knows no linux-image-cloud-amd64 (run apt-get update once)"

versions="debian $suite
"
keyed=("$kernel_pkg" "${packages[@]}" libc6 libglib2.0-0 base-files)
mapfile -t vers < <(candidate_versions "${keyed[@]}")
for i in "${!keyed[@]}"; do
  [ -n "${vers[$i]:-}" ] && [ "${vers[$i]}" != "(none)" ] || die "no candidate for ${keyed[$i]}"
  versions+="package ${keyed[$i]}=${vers[$i]}
"
done
versions+="debootstrap $(dpkg-query -W -f='${Version}' debootstrap)
cmdline $cmdline
script $(sha256sum "$0" | cut -c1-16)
"
key=$(printf '%s' "$versions" | sha256sum | cut -c1-16)
cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/qor-test-guest
cache=$cache_root/$key

copy_out() {
  if [ -f "$outdir/disk.qcow2" ] && cmp -s "$cache/versions" "$outdir/versions"; then
    return
  fi
  mkdir -p "$outdir"
  for f in vmlinuz initrd.img disk.qcow2 cmdline versions; do
    cp "$cache/$f" "$outdir/$f.part"
    mv "$outdir/$f.part" "$outdir/$f"
  done
}

if [ -f "$cache/complete" ]; then
  touch "$cache/complete"
  copy_out
  exit 0
fi

work=$(mktemp -d /var/tmp/qor-debian-guest.XXXXXX)
root=$work/root
part=
# Everything mounted below the build folder, deepest first.
unmount_all() {
  local m
  for _ in 1 2 3; do
    mapfile -t mounts < <(awk -v w="$work/" 'index($2, w) == 1 { print $2 }' /proc/mounts | sort -r)
    [ ${#mounts[@]} -gt 0 ] || return 0
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
  done
  ! awk -v w="$work/" 'index($2, w) == 1 { found = 1 } END { exit !found }' /proc/mounts
}
cleanup() {
  # Never remove a folder that still has the host's /dev or /proc mounted below it.
  if unmount_all; then rm -rf "$work"; else echo "make-debian-guest: left $work (still mounted)" >&2; fi
  [ -z "$part" ] || rm -rf "$part"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
start=$SECONDS
log=$work/build.log
run() { # quiet unless it fails
  "$@" >>"$log" 2>&1 || { tail -n 40 "$log" >&2; die "failed: $*"; }
}
echo "make-debian-guest: building the Debian guest from $mirror ($kernel_pkg ${vers[0]})" >&2

run debootstrap --variant=minbase --arch=amd64 "$suite" "$root" "$mirror"

# Later installs leave out docs, man pages and locales; what minbase put there goes too.
cat >"$root/etc/dpkg/dpkg.cfg.d/01-qor-nodoc" <<'EOF'
path-exclude /usr/share/doc/*
path-include /usr/share/doc/*/copyright
path-exclude /usr/share/man/*
path-exclude /usr/share/info/*
path-exclude /usr/share/locale/*
path-include /usr/share/locale/locale.alias
path-exclude /usr/share/lintian/*
EOF
cat >"$root/etc/apt/apt.conf.d/01-qor" <<'EOF'
APT::Install-Recommends "false";
APT::Install-Suggests "false";
Acquire::Languages "none";
EOF
: >"$root/etc/apt/sources.list"
for line in "${archive[@]}"; do
  read -r uri release component <<<"$line"
  echo "deb $uri $release $component" >>"$root/etc/apt/sources.list"
done
# No service starts inside the chroot.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

# The initramfs: only the listed modules (and what they need), made once the kernel goes in.
mkdir -p "$root/etc/initramfs-tools/conf.d"
echo "MODULES=list" >"$root/etc/initramfs-tools/conf.d/qor"
printf '%s\n' "${initramfs_modules[@]}" >>"$root/etc/initramfs-tools/modules"

cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
in_root() { run env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
  LC_ALL=C chroot "$root" "$@"; }
in_root apt-get update -q
in_root apt-get install -y -q "${packages[@]}" "$kernel_pkg=${vers[0]}"
in_root apt-get clean
kver=${kernel_pkg#linux-image-}
listing=$(chroot "$root" lsinitramfs "/boot/initrd.img-$kver" 2>>"$log") ||
  die "cannot list the initramfs of $kver"
in_root systemctl enable systemd-networkd.service
unmount_all || die "could not unmount below $root"
rm -f "$root/usr/sbin/policy-rc.d" "$root/etc/resolv.conf"
rm -rf "$root"/var/lib/apt/lists/* "$root"/var/cache/apt/*.bin "$root"/var/log/*.log \
  "$root"/var/cache/debconf/*-old "$root"/var/lib/dpkg/*-old
find "$root/usr/share/doc" -mindepth 1 -not -name copyright -not -type d -delete
find "$root/usr/share/doc" -mindepth 1 -type d -empty -delete
rm -rf "$root"/usr/share/man/* "$root"/usr/share/info/* "$root"/usr/share/lintian/*
find "$root/usr/share/locale" -mindepth 1 -maxdepth 1 -not -name locale.alias -exec rm -rf {} +

[ -f "$root/boot/vmlinuz-$kver" ] && [ -f "$root/boot/initrd.img-$kver" ] ||
  die "no kernel or initramfs for $kver in the guest"
# The initramfs must bring the drivers of the root disk and the agent's port (or they are built
# in): check rather than trust the configuration.
builtin=$root/lib/modules/$kver/modules.builtin
for m in virtio_pci virtio_blk virtio_console; do
  grep -qE "/$m\.ko$" "$builtin" || grep -qE "/$m\.ko(\.[a-z]+)?$" <<<"$listing" ||
    die "the initramfs lacks $m"
done
cp "$root/boot/vmlinuz-$kver" "$work/vmlinuz"
cp "$root/boot/initrd.img-$kver" "$work/initrd.img"

# --- The system's configuration.
echo qor-guest >"$root/etc/hostname"
printf '127.0.0.1\tlocalhost\n127.0.1.1\tqor-guest\n' >"$root/etc/hosts"
# One id for every copy: no first-boot setup under TCG.
tr -d '-' </proc/sys/kernel/random/uuid >"$root/etc/machine-id"
printf '/dev/vda\t/\text4\tdefaults\t0\t0\n' >"$root/etc/fstab"
mkdir -p "$root/data"
echo "qor test disk" >"$root/data/README"

# Network: static, no gateway, no DNS, no IPv6 anything.
cat >"$root/etc/systemd/network/10-qor.network" <<'EOF'
[Match]
Type=ether

[Network]
Address=10.0.2.15/24
DHCP=no
LinkLocalAddressing=no
IPv6AcceptRA=no
LLMNR=no
MulticastDNS=no
EOF

# A root shell on the serial console, for debugging.
mkdir -p "$root/etc/systemd/system/serial-getty@ttyS0.service.d"
cat >"$root/etc/systemd/system/serial-getty@ttyS0.service.d/autologin.conf" <<'EOF'
[Service]
ExecStart=
ExecStart=-/sbin/agetty --autologin root --keep-baud 115200,57600,38400,9600 - $TERM
EOF

# Nothing that calls out or wakes up on its own: every timer, and the services below.
masked=()
while read -r unit; do masked+=("${unit##*/}"); done < <(
  find "$root/lib/systemd/system" "$root/usr/lib/systemd/system" -name '*.timer' 2>/dev/null)
masked+=(systemd-timesyncd.service systemd-networkd-wait-online.service systemd-resolved.service
  apt-daily.service apt-daily-upgrade.service man-db.service e2scrub_all.service
  e2scrub_reap.service fstrim.service dpkg-db-backup.service systemd-tmpfiles-clean.service
  logrotate.service)
for unit in $(printf '%s\n' "${masked[@]}" | sort -u); do
  ln -sf /dev/null "$root/etc/systemd/system/$unit"
done

# The agent: its unit must exist and be pulled in by udev, as the package ships it.
[ -f "$root/lib/systemd/system/qemu-guest-agent.service" ] || die "no qemu-guest-agent.service"
grep -rqs 'qemu-guest-agent.service' "$root/lib/udev/rules.d" "$root/usr/lib/udev/rules.d" ||
  die "no udev rule starts qemu-guest-agent.service"

# Empty mount points; the image is made from the folder as it stands.
for d in proc sys dev run tmp; do
  [ -d "$root/$d" ] || mkdir -p "$root/$d"
done
find "$root/dev" "$root/run" "$root/tmp" -mindepth 1 -delete

used_mib=$(du -sm "$root" | cut -f1)
size_mib=$(( (used_mib * 13 / 10 + 256 + 63) / 64 * 64 ))
run qemu-img create -q -f raw "$work/disk.raw" "${size_mib}M"
run mkfs.ext4 -q -F -L qorroot -d "$root" "$work/disk.raw"
run qemu-img convert -q -f raw -O qcow2 "$work/disk.raw" "$work/disk.qcow2"
echo "$cmdline" >"$work/cmdline"
printf '%s' "$versions" >"$work/versions"
echo "make-debian-guest: built in $((SECONDS - start)) s: root $used_mib MiB, disk $size_mib MiB," \
  "qcow2 $(du -m "$work/disk.qcow2" | cut -f1) MiB" >&2

mkdir -p "$cache_root"
part=$(mktemp -d "$cache_root/.build.XXXXXX")
cp "$work"/{vmlinuz,initrd.img,disk.qcow2,cmdline,versions} "$part/"
touch "$part/complete"
chmod 755 "$part"
[ -f "$cache/complete" ] || rm -rf "$cache"
mv -T "$part" "$cache" 2>/dev/null || rm -rf "$part"
part=
find "$cache_root" -mindepth 2 -maxdepth 2 -name complete -mtime +14 -printf '%h\0' |
  xargs -0r rm -rf
copy_out

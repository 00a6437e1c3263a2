#!/usr/bin/env bash
# Builds the tiny test guest from Debian packages and copies it into OUTDIR:
#   vmlinuz      the kernel of linux-image-cloud-amd64 (downloaded and unpacked, never installed)
#   initrd.img   a gzip'd cpio: busybox-static, the virtio modules, qemu-guest-agent and its
#                libraries, and an init that brings up the console, network, agent and /data
#   disk.qcow2   a 16 MiB ext2 disk (label qordata, one file README), mounted at /data
#   cmdline      the kernel command line to boot with
#   versions     what the guest was built from
# The result is cached by the versions of everything that goes into it (and this script), in
# ${XDG_CACHE_HOME:-~/.cache}/qor-test-guest, so a second run only copies files.
#
# The guest sends nothing off the machine: a static address in QEMU's user-mode network
# (10.0.2.15/24, no default route), no DHCP, no DNS, IPv6 off on the kernel command line, and no
# service other than the guest agent, an ACPI button handler and a shell on the serial console.
set -euo pipefail

usage() { echo "usage: $0 OUTDIR" >&2; exit 64; }
[ $# -eq 1 ] || usage
outdir=$1

cmdline="console=ttyS0 ipv6.disable=1 quiet"
# Load order matters: busybox insmod resolves nothing by itself.
modules=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci
         virtio_console failover net_failover virtio_net virtio_blk button evdev)
# Libraries qemu-guest-agent links (with their own dependencies), for the cache key.
lib_packages=(libc6 libglib2.0-0 libpcre2-8-0 libnuma1 liburing2 libudev1)

die() { echo "make-guest: $*" >&2; exit 1; }
for tool in apt-get apt-cache dpkg-deb dpkg-query cpio gzip qemu-img mke2fs ldd; do
  command -v "$tool" >/dev/null || die "$tool is missing (run scripts/setup.sh)"
done
[ -x /bin/busybox ] || die "/bin/busybox is missing (package busybox-static)"
grep -qx acpid <<<"$(/bin/busybox --list)" || die "/bin/busybox has no acpid"

installed_version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null; }
candidate_versions() { # one line per package, in the order given
  apt-cache policy "$@" 2>/dev/null | awk -v names="$*" '/^[^ ]+:$/ { p = $1 }
    /Candidate:/ { v[p] = $2 } END { n = split(names, a, " "); for (i = 1; i <= n; i++) print v[a[i] ":"] }' 
}

# The metapackage names the versioned kernel package; its candidate version pins the kernel.
kernel_pkg=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null |
  awk '/Depends: linux-image-[0-9].*-cloud-amd64/ && !n++ { print $2 }')
[ -n "$kernel_pkg" ] || die "apt knows no linux-image-cloud-amd64 (run apt-get update once)"
{ read -r kernel_ver; read -r agent_ver; } < <(candidate_versions "$kernel_pkg" qemu-guest-agent)
[ -n "$kernel_ver" ] && [ "$kernel_ver" != "(none)" ] || die "no candidate for $kernel_pkg"
[ -n "$agent_ver" ] && [ "$agent_ver" != "(none)" ] || die "no candidate for qemu-guest-agent"

versions="kernel $kernel_pkg=$kernel_ver
agent qemu-guest-agent=$agent_ver
busybox busybox-static=$(installed_version busybox-static)
"
for p in "${lib_packages[@]}"; do
  versions+="lib $p=$(installed_version "$p")
"
done
versions+="cmdline $cmdline
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

work=$(mktemp -d)
part=
trap 'rm -rf "$work" ${part:+"$part"}' EXIT
chmod 755 "$work"   # apt's download sandbox user must be able to write here
echo "make-guest: building the test guest ($kernel_pkg $kernel_ver, qemu-guest-agent $agent_ver)" >&2

(cd "$work" && apt-get download -q "$kernel_pkg=$kernel_ver" "qemu-guest-agent=$agent_ver" \
  >download.log 2>&1) || { cat "$work/download.log" >&2; die "apt-get download failed"; }
dpkg-deb -x "$work"/linux-image-*.deb "$work/kernel"
dpkg-deb -x "$work"/qemu-guest-agent_*.deb "$work/agent"

kdirs=("$work"/kernel/lib/modules/*)
kdir=${kdirs[0]}
[ -f "$kdir/modules.builtin" ] || die "no modules in $kernel_pkg"
root=$work/root
mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,etc/acpi/PWRF,lib/modules,proc,sys,dev,tmp,run,data,root,var}
ln -s ../run "$root/var/run"

# The kernel.
cp "$work"/kernel/boot/vmlinuz-* "$work/vmlinuz"

# Modules: built-in ones are skipped, compressed ones unpacked (busybox insmod takes plain .ko).
: >"$root/lib/modules/load"
for m in "${modules[@]}"; do
  if grep -qE "/$m\.ko$" "$kdir/modules.builtin"; then
    continue
  fi
  f=$(find "$kdir/kernel" \( -name "$m.ko" -o -name "$m.ko.xz" -o -name "$m.ko.zst" \
    -o -name "$m.ko.gz" \) -print -quit)
  [ -n "$f" ] || die "module $m is neither built in nor shipped in $kernel_pkg"
  case $f in
    *.ko) cp "$f" "$root/lib/modules/$m.ko" ;;
    *.ko.xz) xz -dc "$f" >"$root/lib/modules/$m.ko" ;;
    *.ko.zst) zstd -qdc "$f" >"$root/lib/modules/$m.ko" ;;
    *.ko.gz) gzip -dc "$f" >"$root/lib/modules/$m.ko" ;;
  esac
  echo "$m" >>"$root/lib/modules/load"
done

# busybox and a link for every applet, at the path busybox gives it.
cp /bin/busybox "$root/bin/busybox"
/bin/busybox --list-full | while read -r applet; do
  [ -e "$root/$applet" ] || ln -s /bin/busybox "$root/$applet"
done
ln -s /bin/busybox "$root/init"

# The agent and the shared libraries it needs, found on this host (same Debian release).
agent=$work/agent/usr/sbin/qemu-ga
cp "$agent" "$root/usr/sbin/qemu-ga"
ldd "$agent" | awk '/=> \// { print $3 } /^\t\// { print $1 }' | while read -r lib; do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
if grep -q 'not found' <<<"$(ldd "$agent")"; then
  ldd "$agent" >&2
  die "qemu-ga needs libraries this host lacks (install: ${lib_packages[*]})"
fi

cat >"$root/etc/passwd" <<'EOF'
root:x:0:0:root:/root:/bin/sh
EOF
cat >"$root/etc/group" <<'EOF'
root:x:0:
EOF
echo qor-guest >"$root/etc/hostname"

# busybox init: runs /etc/rc once, then keeps a shell on the serial port and the agent alive.
cat >"$root/etc/inittab" <<'EOF'
::sysinit:/etc/rc
ttyS0::respawn:-/bin/sh
::respawn:/sbin/run-agent
::shutdown:/bin/sync
EOF

cat >"$root/etc/profile" <<'EOF'
export PATH=/sbin:/bin:/usr/sbin:/usr/bin
PS1='qor-guest# '
EOF

cat >"$root/etc/rc" <<'EOF'
#!/bin/sh
export PATH=/sbin:/bin:/usr/sbin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
hostname -F /etc/hostname

while read -r m; do
  insmod "/lib/modules/$m.ko" || echo "rc: insmod $m failed" >/dev/console
done </lib/modules/load

# Devices appear asynchronously once their drivers are in: wait (bounded) for each.
wait_for() {
  i=0
  while [ ! -e "$1" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
  [ -e "$1" ]
}

# Static address in QEMU's user-mode network; no default route, so nothing leaves the machine.
ip link set lo up
if wait_for /sys/class/net/eth0; then
  ip addr add 10.0.2.15/24 dev eth0
  ip link set eth0 up
fi

# No udev: make the agent's port link by hand from the port names.
mkdir -p /dev/virtio-ports
i=0
while [ $i -lt 100 ]; do
  for p in /sys/class/virtio-ports/*; do
    [ -r "$p/name" ] || continue
    n=$(cat "$p/name")
    [ -n "$n" ] && ln -sf "../${p##*/}" "/dev/virtio-ports/$n"
  done
  [ -e /dev/virtio-ports/org.qemu.guest_agent.0 ] && break
  sleep 0.05
  i=$((i + 1))
done

if wait_for /dev/vda; then
  mount -t ext2 /dev/vda /data || echo "rc: /dev/vda is not ext2, /data stays empty" >/dev/console
fi

# The ACPI power button (libvirt's default shutdown) runs /etc/acpi/PWRF/00000080.
acpid -c /etc/acpi -l /run/acpid.log
EOF

cat >"$root/sbin/run-agent" <<'EOF'
#!/bin/sh
# Run by init again whenever it ends; the pause keeps a failing agent from spinning.
# (Not daemonized, so the agent writes no pid file: pidof qemu-ga finds it.)
/usr/sbin/qemu-ga -m virtio-serial -p /dev/virtio-ports/org.qemu.guest_agent.0 \
  -t /run -l /run/qemu-ga.log
sleep 1
EOF

# busybox has no shutdown(8); the agent's guest-shutdown runs "/sbin/shutdown -P|-H|-r ...".
cat >"$root/sbin/shutdown" <<'EOF'
#!/bin/sh
action=poweroff
for a in "$@"; do
  case $a in
    -r) action=reboot ;;
    -H) action=halt ;;
  esac
done
# Like a real guest, power off a moment later, after the caller (the agent) got its answer.
(
  sleep "${QOR_SHUTDOWN_DELAY:-0.5}"
  sync
  umount /data 2>/dev/null
  $action -f
) </dev/null >/dev/null 2>&1 &
EOF

cat >"$root/etc/acpi/PWRF/00000080" <<'EOF'
#!/bin/sh
exec /sbin/shutdown -P now
EOF
chmod 755 "$root/etc/rc" "$root/sbin/run-agent" "$root/sbin/shutdown" "$root/etc/acpi/PWRF/00000080"

# The archive, owned by root inside. /dev/console must exist before init runs and mknod needs
# privileges, so its entry is written by hand in cpio's newc format and appended.
newc_entry() { # name mode major minor
  local name=$1 mode=$2 rmaj=$3 rmin=$4 namesize
  namesize=$(( ${#name} + 1 ))
  printf '070701%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%s\0' \
    0 "$mode" 0 0 1 0 0 0 0 "$rmaj" "$rmin" "$namesize" 0 "$name"
  # header (110 bytes) plus name, padded to a multiple of 4
  local pad=$(( (4 - (110 + namesize) % 4) % 4 ))
  head -c "$pad" /dev/zero
}
{
  (cd "$root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet)
  { newc_entry dev/console $((8#020600)) 5 1; newc_entry TRAILER!!! 0 0 0; }
} | gzip -9n >"$work/initrd.img"

# The data disk: ext2 with one file, so a copy's content can be checked from inside too.
mkdir "$work/data"
echo "qor test disk" >"$work/data/README"
qemu-img create -q -f raw "$work/disk.raw" 16M
mke2fs -q -F -t ext2 -L qordata -d "$work/data" "$work/disk.raw"
qemu-img convert -q -f raw -O qcow2 "$work/disk.raw" "$work/disk.qcow2"

echo "$cmdline" >"$work/cmdline"
printf '%s' "$versions" >"$work/versions"

# Into the cache in one rename, so a concurrent build or an interrupted one leaves no half entry.
mkdir -p "$cache_root"
part=$(mktemp -d "$cache_root/.build.XXXXXX")
cp "$work"/{vmlinuz,initrd.img,disk.qcow2,cmdline,versions} "$part/"
touch "$part/complete"
chmod 755 "$part"
[ -f "$cache/complete" ] || rm -rf "$cache"
mv -T "$part" "$cache" 2>/dev/null || rm -rf "$part"
# Guests built from other versions and not used for two weeks go.
find "$cache_root" -mindepth 2 -maxdepth 2 -name complete -mtime +14 -printf '%h\0' |
  xargs -0r rm -rf
copy_out

#!/usr/bin/env bash
# Builds the Debian package qorctl_<version>_<arch>.deb into dist/ (or $QOR_PACKAGE_DIR) and
# checks it with lintian, which must find no errors. Installs what is needed first.
#
# The package is built from a copy of the source made in the output folder: the files git tracks
# or would track (so uncommitted edits are in, build folders and other ignored files are not),
# or, outside a git checkout, everything but build folders. The source tree itself is never
# written to. The build's log is left beside the package (build.log).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${QOR_PACKAGE_DIR:-$root/dist}

"$root/scripts/setup.sh"

mkdir -p "$out"
out=$(cd "$out" && pwd)
# A fixed place rather than a fresh temporary one: the same paths from one run to the next let a
# compiler cache (CMAKE_CXX_COMPILER_LAUNCHER in the environment) serve the rebuild.
work="$out/source"
rm -rf "$work"
mkdir -p "$work/qorctl"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # Deleted files that git still tracks are left out.
  git -C "$root" ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do
      if [[ -e $root/$file || -L $root/$file ]]; then printf '%s\0' "$file"; fi
    done |
    tar -C "$root" --null --no-recursion -T - -cf - | tar -C "$work/qorctl" -xf -
else
  tar -C "$root" --exclude='./build*' --exclude='./dist' --exclude='./obj-*' -cf - . |
    tar -C "$work/qorctl" -xf -
fi

version=$(cd "$work/qorctl" && dpkg-parsechangelog -S Version)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
echo "Building qorctl_${version}_${arch}.deb (log: $out/build.log) ..."
if ! (cd "$work/qorctl" &&
  DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-"nocheck parallel=$(nproc)"} \
    dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log" >&2
  echo "package: dpkg-buildpackage failed; the whole log is $out/build.log" >&2
  exit 1
fi

rm -f "$out"/qorctl_*.deb "$out"/qorctl-dbgsym_*.deb "$out"/qorctl_*.changes "$out"/qorctl_*.buildinfo
mv "$work"/qorctl_"$version"_* "$work"/qorctl-dbgsym_"$version"_* "$out"/ 2>/dev/null || true
rm -rf "$work"
deb="$out/qorctl_${version}_${arch}.deb"
[[ -f $deb ]] || { echo "package: no $deb was made" >&2; exit 1; }

echo "Checking it with lintian ..."
lintian --fail-on error --info "$out/qorctl_${version}_${arch}.changes"
echo "Made $deb; install it with: sudo apt-get install $deb"

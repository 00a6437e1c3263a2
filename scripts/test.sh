#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite twice: as shipped, then built
# with clang under AddressSanitizer and UndefinedBehaviorSanitizer together with the fuzz
# targets' short runs. Between the two it builds and checks the Debian package. Fails when any
# of them fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc)
failed=0

export QOR_BUILD_DIR=${QOR_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
(cd "$QOR_BUILD_DIR" && ctest --output-on-failure -j "$jobs") || failed=1

# The Debian package, built from a copy of the source with lintian finding no errors, then its
# contents and the unpacked tree at work (a staged install: lighter than a fresh root).
package_dir=$QOR_BUILD_DIR/package
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
deb="$package_dir/qorctl_${version}_$(dpkg-architecture -q DEB_HOST_ARCH).deb"
if QOR_PACKAGE_DIR=$package_dir "$root/scripts/package.sh"; then
  bash "$root/tests/package/check.sh" "$deb" || failed=1
else
  failed=1
fi

sanitize=${QOR_SANITIZE_BUILD_DIR:-$root/build-sanitize}
CC=clang CXX=clang++ QOR_BUILD_DIR=$sanitize "$root/scripts/build.sh" \
  -DQORCTL_SANITIZE=ON -DQORCTL_FUZZ=ON
# The programs the tests start report into files, so that a finding fails the run even where
# nobody reads the program's standard error (the host qorctl launches writes to /dev/null).
logs=$sanitize/sanitizer-logs
rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS="log_path=$logs/asan:detect_leaks=1"
export UBSAN_OPTIONS="log_path=$logs/ubsan:print_stacktrace=1"
(cd "$sanitize" && ctest --output-on-failure -j "$jobs") || failed=1
# A host outlives its test by a moment: it leaves once its private bus has gone.
for _ in $(seq 50); do
  pgrep -f "^$sanitize/Qor.app/Contents/MacOS/qor-host" >/dev/null || break
  sleep 0.1
done
if compgen -G "$logs/*" >/dev/null; then
  echo "Sanitizer reports:" >&2
  cat "$logs"/* >&2
  failed=1
fi
exit "$failed"

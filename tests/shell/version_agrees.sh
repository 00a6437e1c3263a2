#!/usr/bin/env bash
# The version is declared once, in CMakeLists.txt's project(); the package's version in
# debian/changelog must be the same, and so must the header the build writes from it (which the
# host's Application.Version and the manual's footer read).
# Arguments: the bundle folder (unused) and the build folder.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${2:?usage: version_agrees.sh <bundle> <build folder>}

cmake_version=$(sed -n 's/^project(qorctl VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
changelog_version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version) || {
  echo "FAIL: debian/changelog cannot be read by dpkg-parsechangelog" >&2
  exit 1
}
header_version=$(sed -n 's/.*kVersion = "\([^"]*\)".*/\1/p' "$build/generated/version.h")

status=0
if [[ -z $cmake_version ]]; then
  echo "FAIL: no version in CMakeLists.txt's project() line" >&2
  status=1
fi
if [[ $changelog_version != "$cmake_version" ]]; then
  echo "FAIL: debian/changelog says $changelog_version, CMakeLists.txt's project() says" \
    "$cmake_version: add a changelog entry (dch -v $cmake_version) or change project()" >&2
  status=1
fi
if [[ $header_version != "$cmake_version" ]]; then
  echo "FAIL: $build/generated/version.h says '$header_version', CMakeLists.txt says" \
    "$cmake_version: configure the build folder again" >&2
  status=1
fi
exit $status

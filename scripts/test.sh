#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite twice: as shipped, then built
# with clang under AddressSanitizer and UndefinedBehaviorSanitizer together with the fuzz
# targets' short runs; between the two it builds and checks the Debian package. Fails when any of
# them fails. What apt and the builds print goes to logs in $QOR_BUILD_DIR/logs; a failing stage
# shows the end of its log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export QOR_BUILD_DIR=${QOR_BUILD_DIR:-$root/build}
source "$root/scripts/lib/steps.sh"
step_log_dir "$QOR_BUILD_DIR/logs"
jobs=$(nproc)
failures=()
# A stage that failed: the run goes on to the next, and ends by naming each.
failed() {
  failures+=("\"$_step_stage\": $1")
}

step "Installing the Debian packages that are missing (apt)" setup "$root/scripts/setup.sh"
build_step "Building with GCC into $QOR_BUILD_DIR" build "$root/scripts/build.sh"
stage "Running the tests"
(cd "$QOR_BUILD_DIR" && ctest --output-on-failure -j "$jobs") || failed "ctest in $QOR_BUILD_DIR"

# The Debian package, built from a copy of the source with lintian finding no errors, then its
# contents and the unpacked tree at work (a staged install: lighter than a fresh root).
stage "Building the Debian package and checking it"
package_dir=$QOR_BUILD_DIR/package
version=$(dpkg-parsechangelog -l "$root/debian/changelog" -S Version)
deb="$package_dir/qorctl_${version}_$(dpkg-architecture -q DEB_HOST_ARCH).deb"
if QOR_PACKAGE_DIR=$package_dir "$root/scripts/package.sh"; then
  bash "$root/tests/package/check.sh" "$deb" || failed "tests/package/check.sh $deb"
else
  failed "scripts/package.sh"
fi

sanitize=${QOR_SANITIZE_BUILD_DIR:-$root/build-sanitize}
build_step "Building with clang, AddressSanitizer and UndefinedBehaviorSanitizer into $sanitize" \
  build-sanitize env CC=clang CXX=clang++ QOR_BUILD_DIR="$sanitize" "$root/scripts/build.sh" \
  -DQORCTL_SANITIZE=ON -DQORCTL_FUZZ=ON
# Reports are symbolized by the llvm-symbolizer of the clang that built the programs. It is named
# explicitly: the runtime's own default (/usr/bin/llvm-symbolizer-14) exists only when llvm-14 is
# installed, and without it every program that symbolizes anything (libFuzzer does, for each new
# function it covers) writes a warning into its log instead of names.
symbolizer=$(dirname "$(readlink -f "$(command -v clang)")")/llvm-symbolizer
if [ ! -x "$symbolizer" ]; then
  echo "test: no $symbolizer to symbolize sanitizer reports with (scripts/setup.sh installs it)" >&2
  exit 1
fi
# The programs the tests start report into files, so that a finding fails the run even where
# nobody reads the program's standard error (the host qorctl launches writes to /dev/null).
logs=$sanitize/sanitizer-logs
rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS="log_path=$logs/asan:log_exe_name=1:detect_leaks=1:external_symbolizer_path=$symbolizer"
export UBSAN_OPTIONS="log_path=$logs/ubsan:log_exe_name=1:print_stacktrace=1:external_symbolizer_path=$symbolizer"
stage "Running the tests under the sanitizers, and each fuzz target briefly"
(cd "$sanitize" && ctest --output-on-failure -j "$jobs") || failed "ctest in $sanitize"
# A host outlives its test by a moment: it leaves once its private bus has gone.
for _ in $(seq 50); do
  pgrep -f "^$sanitize/Qor.app/Contents/MacOS/qor-host" >/dev/null || break
  sleep 0.1
done
# Any log at all fails the run: a finding, or a sanitizer that could not do its work.
if compgen -G "$logs/*" >/dev/null; then
  echo "Sanitizer reports (in $logs):" >&2
  for log in "$logs"/*; do
    echo "--- ${log##*/}" >&2
    cat "$log" >&2
  done
  failed "sanitizer reports in $logs"
fi
if [ ${#failures[@]} -gt 0 ]; then
  echo "test: failed:" >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi

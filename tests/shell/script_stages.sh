#!/usr/bin/env bash
# The stages of the tour and the test command, as CI sees them (standard output not a terminal):
# one line per stage, the build's progress as plain lines, and for a failing stage the end of
# its log, its path and the stage's exit status.
set -u
lib="$(dirname "$0")/../../scripts/lib/steps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Stage output of a script that runs a quiet stage, a build of four steps and a failing build.
cat >"$work/stages.sh" <<SCRIPT
source "$lib"
step_log_dir "$work/logs"
step "Installing" setup bash -c 'echo "apt says a lot"'
build_step "Building" build bash -c 'for i in 1 2 3 4; do echo "[\$i/4] Building x\$i.o"; echo "compiler chatter"; sleep 1; done'
build_step "Breaking" broken bash -c 'for i in \$(seq 50); do echo "line \$i"; done; echo "[1/9] Building y.o"; echo "error: y.cpp broke" >&2; exit 3'
echo "not reached"
SCRIPT
STEP_PROGRESS_SECONDS=1 bash "$work/stages.sh" >"$work/out" 2>"$work/err"
status=$?
out=$(cat "$work/out")
err=$(cat "$work/err")

[[ $status -eq 3 ]] || fail "a failing stage ends the script with its status: got $status"
[[ $out == *"==> Installing"*"==> Building"*"==> Breaking"* ]] || fail "one line per stage: $out"
[[ $out != *"apt says"* && $out != *chatter* && $err != *"apt says"* ]] ||
  fail "the tools' output stays in the logs"
grep -q 'apt says a lot' "$work/logs/setup.log" || fail "setup.log keeps apt's output"
[[ $out =~ \ \ [1-4]/4\ steps\ \([0-9]+%\) ]] || fail "the build's progress is shown: $out"
[[ $out == *"done (4 steps)"* ]] || fail "a finished build says how many steps it had: $out"
[[ $(cat "$work/out" "$work/err") != *$'\r'* ]] || fail "no carriage returns when not on a terminal"
[[ $out != *"not reached"* ]] || fail "the script stops at the failing stage"
[[ $err == *"failed (exit status 3); the last 40 lines of $work/logs/broken.log:"* ]] ||
  fail "the failure names its log: $err"
# 52 lines in the log: the last 40 begin with "line 13".
[[ $err == *"error: y.cpp broke"* && $err == *$'    line 13\n'* && $err != *$'    line 12\n'* ]] ||
  fail "the failure shows exactly the last 40 lines: $err"
[[ $err == *"The whole log: $work/logs/broken.log"* ]] || fail "the failure gives the log's path"

# The tour and the test command run with errexit and pipefail: a build that shows no step for a
# while (CMake still configuring) must not end them silently.
cat >"$work/strict.sh" <<SCRIPT
set -euo pipefail
source "$lib"
step_log_dir "$work/strict-logs"
build_step "Configuring slowly" configure bash -c 'sleep 2; echo "[1/1] Building z.o"'
echo "after the build"
SCRIPT
strict_out=$(bash "$work/strict.sh" 2>&1)
strict_status=$?
[[ $strict_status -eq 0 && $strict_out == *"done (1 steps)"*"after the build"* ]] ||
  fail "a stage that is quiet at first completes under errexit and pipefail" \
    "(status $strict_status): $strict_out"

# Under errexit and pipefail, as the real scripts run: a build whose log has no "[n/m]" line for
# a while (the configure step, nothing to do) goes on to the next stage and says it is done.
cat >"$work/quiet.sh" <<SCRIPT
set -euo pipefail
source "$lib"
step_log_dir "$work/logs"
build_step "Building quietly" quiet bash -c 'echo "-- Configuring"; sleep 2; echo "ninja: no work to do."'
echo "after the build"
SCRIPT
STEP_PROGRESS_SECONDS=1 bash "$work/quiet.sh" >"$work/quiet.out" 2>"$work/quiet.err"
status=$?
[[ $status -eq 0 ]] || fail "a build without progress lines ends the script: status $status, $(cat "$work/quiet.err")"
[[ $(cat "$work/quiet.out") == *"  done"*"after the build"* ]] ||
  fail "a build without progress lines is done: $(cat "$work/quiet.out")"

# Any other command that ends such a script says so: the stage, the command and its line.
cat >"$work/stops.sh" <<SCRIPT
set -euo pipefail
source "$lib"
step_log_dir "$work/logs"
step "Installing" setup true
stage "Checking the package"
ls "$work/no such file" >/dev/null 2>&1
echo "not reached"
SCRIPT
bash "$work/stops.sh" >"$work/stops.out" 2>"$work/stops.err"
status=$?
err=$(cat "$work/stops.err")
[[ $status -eq 2 ]] || fail "a failed command ends the script with its status: got $status"
[[ $(cat "$work/stops.out") == *"==> Checking the package"* && $(cat "$work/stops.out") != *"not reached"* ]] ||
  fail "the stage is shown and the script stops: $(cat "$work/stops.out")"
[[ $err == *"stopped with status 2 in the stage \"Checking the package\""* ]] ||
  fail "the report names the stage: $err"
[[ $err == *"the command \`ls \"$work/no such file\""*"\` failed (stops.sh, line 6)"* ]] ||
  fail "the report names the command and its line: $err"

# The test command's own stages too, outside any step.
grep -q '^stage "Running the tests"' "$(dirname "$0")/../../scripts/test.sh" ||
  fail "scripts/test.sh names the stage that runs the tests"

exit $((failures > 0))

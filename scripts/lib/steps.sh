# Stages of a long script: one short line each on standard output, while what the tools print
# (apt, CMake, the compiler) goes to a log; a failing stage shows the end of its log.
# Source it, then call `step_log_dir FOLDER` once before the first stage.

_step_logs=""
_step_stage=""

# A script that stops with a non-zero status always says where: the stage it was in, the command
# that failed and its line. errexit ends the script right after this trap has run.
_step_error() {
  local status=$1 command=$2 line=$3 file=$4
  echo "${0##*/}: stopped with status $status${_step_stage:+ in the stage \"$_step_stage\"}:" \
    "the command \`$command\` failed (${file##*/}, line $line)" >&2
}
set -o errtrace
trap '_step_error "$?" "$BASH_COMMAND" "$LINENO" "${BASH_SOURCE[0]:-$0}"' ERR

# stage LABEL: a stage the script runs itself, output and all: its line, and its name for a report.
stage() {
  _step_stage=$1
  echo "==> $1"
}

step_log_dir() {
  _step_logs=$1
  mkdir -p "$_step_logs"
}

# Tells what failed and where the whole story is, then ends the script with the stage's status.
_step_failed() {
  local label=$1 log=$2 status=$3
  echo "  failed (exit status $status); the last 40 lines of $log:" >&2
  tail -n 40 "$log" | sed 's/^/    /' >&2
  echo "  The whole log: $log" >&2
  exit "$status"
}

# step LABEL NAME COMMAND...: runs COMMAND with its output in NAME.log.
step() {
  local label=$1 log=$_step_logs/$2.log status=0
  shift 2
  stage "$label"
  "$@" >"$log" 2>&1 </dev/null || status=$?
  [ "$status" -eq 0 ] || _step_failed "$label" "$log" "$status"
}

# The last "[n/m]" of a ninja log with 0 < m, as "n/m"; empty when there is none yet. Never fails.
_step_progress() {
  { grep -a -o '^\[[0-9]*/[0-9]*\]' "$1" 2>/dev/null || true; } | tail -n 1 | tr -d '[]' |
    { grep -x '[0-9][0-9]*/0*[1-9][0-9]*' || true; }
}

# build_step LABEL NAME COMMAND...: like step, for a build whose log gets ninja's "[n/m]" lines;
# shows how far it is: one line kept up to date on a terminal, else a line every 20 seconds
# (STEP_PROGRESS_SECONDS) while the count moves.
build_step() {
  local label=$1 log=$_step_logs/$2.log status=0
  shift 2
  stage "$label"
  : >"$log"
  "$@" >"$log" 2>&1 </dev/null &
  local pid=$! shown="" last_print=$SECONDS progress
  # Nothing in this loop may end the script under errexit and pipefail: a log without a "[n/m]"
  # line yet (the configure step, a build with nothing to do) is no failure.
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1 || true
    progress=$(_step_progress "$log")
    [ -n "$progress" ] || continue
    local text="  $progress steps ($((100 * ${progress%/*} / ${progress#*/}))%)"
    if [ -t 1 ]; then
      printf '\r%s' "$text"
    elif [ "$progress" != "$shown" ] && [ $((SECONDS - last_print)) -ge "${STEP_PROGRESS_SECONDS:-20}" ]; then
      echo "$text"
      last_print=$SECONDS
    else
      continue
    fi
    shown=$progress
  done
  wait "$pid" || status=$?
  if [ -t 1 ] && [ -n "$shown" ]; then printf '\r\033[K'; fi
  [ "$status" -eq 0 ] || _step_failed "$label" "$log" "$status"
  progress=$(_step_progress "$log")
  echo "  done${progress:+ (${progress#*/} steps)}"
}

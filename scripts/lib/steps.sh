# Stages of a long script: one short line each on standard output, while what the tools print
# (apt, CMake, the compiler) goes to a log; a failing stage shows the end of its log.
# Source it, then call `step_log_dir FOLDER` once before the first stage.

_step_logs=""

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
  echo "==> $label"
  "$@" >"$log" 2>&1 </dev/null || status=$?
  [ "$status" -eq 0 ] || _step_failed "$label" "$log" "$status"
}

# build_step LABEL NAME COMMAND...: like step, for a build whose log gets ninja's "[n/m]" lines;
# shows how far it is: one line kept up to date on a terminal, else a line every 20 seconds
# (STEP_PROGRESS_SECONDS) while the count moves.
build_step() {
  local label=$1 log=$_step_logs/$2.log status=0
  shift 2
  echo "==> $label"
  : >"$log"
  "$@" >"$log" 2>&1 </dev/null &
  local pid=$! shown="" last_print=$SECONDS progress
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    # Nothing to show yet (CMake still configuring) is no failure, also under pipefail.
    progress=$(grep -o '^\[[0-9]*/[0-9]*\]' "$log" | tail -n 1 | tr -d '[]' || true)
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
  progress=$(grep -o '^\[[0-9]*/[0-9]*\]' "$log" | tail -n 1 | tr -d '[]' || true)
  echo "  done${progress:+ (${progress#*/} steps)}"
}

# The portable zip under Wine: unpacked into a fresh Windows, the program opens its window,
# loads every file of the folder and nothing else of ours, archives a run-now job, and
# exits with 0 when its window is closed.
#   bash windows-zip.sh SOURCE_DIR VERSION X11TOOL
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/winelib.sh" "$@"

loaded_files() { awk '{ print $6 }' /proc/"$PROG_PID"/maps | grep -F "$WIN_APP/" | LC_ALL=C sort -u; }
# The program and its DLLs; the licence texts beside them are for reading.
binaries() { find "$WIN_APP" -type f \( -iname '*.exe' -o -iname '*.dll' \) | LC_ALL=C sort; }
all_loaded() { [ "$(loaded_files)" = "$(binaries)" ]; }

portable_case() {
  local work="$CASE_DIR/work" before
  mkdir -p "$work"
  new_wineprefix
  prepare_job "$work"
  before="$(work_state "$work")"
  start_wine "$work" "$WIN_APP/halcyon.exe"
  wait_until 20 all_loaded || {
    diff <(binaries) <(loaded_files) >&2 || true
    fail "the program does not load exactly the files of the zip"
  }
  run_job
  assert_responsive
  close_exits_zero
  [ "$(work_state "$work")" = "$before" ] || fail "the working directory changed: $(ls -A "$work")"
}

start_xvfb
run_case portable-zip portable_case
finish

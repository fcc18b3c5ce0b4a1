# The portable zip under Wine: unpacked into a fresh Windows, the program opens its window,
# loads every file of the folder and nothing else of ours, archives a run-now job, and
# exits with 0 when its window is closed; its Task Scheduler task is well-formed; halcyon.exe
# --run with its lines, exit code and events, then --verify and --extract; a job whose older
# archive another program holds.
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
  for task in halcyon-task.xml halcyon-verify-task.xml; do
    xmllint --noout "$WIN_APP/$task" || fail "$task is not well-formed"
  done
  [ "$(work_state "$work")" = "$before" ] || fail "the working directory changed: $(ls -A "$work")"
}

# The older Nightly.rar is held open by another program across the job's commit, as a
# virus scanner or a backup agent holds it: the new archive takes its place once it lets go.
held_archive_case() {
  local work="$CASE_DIR/work" holder="$CASE_DIR/holdfile.exe"
  mkdir -p "$work"
  x86_64-w64-mingw32-gcc-posix -municode -O2 -o "$holder" "$win_source/tests/windows/holdfile.c" ||
    fail "cannot build holdfile.exe"
  new_wineprefix
  prepare_job "$work"
  mkdir -p "$JOB_OUT"
  echo "older archive" >"$JOB_OUT/Nightly.rar"
  start_wine "$work" "$WIN_APP/halcyon.exe"
  wine "$holder" "Z:$JOB_OUT/Nightly.rar" 4000 >"$CASE_DIR/holder.log" 2>&1 &
  CASE_PIDS+=($!)
  wait_until 30 grep -q "^held" "$CASE_DIR/holder.log" || fail "holdfile.exe did not take the older archive"
  # Nightly.BAK comes first in the walk, so the next archive waits for its commit.
  run_job
  grep -q "^released" "$CASE_DIR/holder.log" || fail "the archive was replaced while held: Wine did not refuse it"
  close_exits_zero
}

# halcyon.exe --run as a scheduled task runs it: no window, its lines redirected, its exit
# code; and what it hands the event log (Wine's eventlog channel traces ReportEventW).
headless_case() {
  local work="$CASE_DIR/work" code=0
  mkdir -p "$work"
  new_wineprefix
  prepare_job "$work"
  (cd "$work" && WINEDEBUG=+eventlog wine "$WIN_APP/halcyon.exe" --run >"$CASE_DIR/lines.txt" 2>"$CASE_DIR/wine.log") || code=$?
  [ "$code" -eq 0 ] || fail "halcyon.exe --run exited with $code: $(cat "$CASE_DIR/lines.txt")"
  [ "$(grep -c ' ok' "$CASE_DIR/lines.txt")" -eq 2 ] || fail "--run printed: $(cat "$CASE_DIR/lines.txt")"
  # Into a file UTF-8, not the code page (936 here): the Chinese archive's line shows it.
  grep -q '中文备份.rar ok' "$CASE_DIR/lines.txt" || fail "--run's lines are not UTF-8: $(od -c "$CASE_DIR/lines.txt" | head -5)"
  (cd "$work" && wine "$WIN_APP/halcyon.exe" --version >"$CASE_DIR/version.txt" 2>/dev/null) || fail "halcyon.exe --version failed"
  [ "$(tr -d '\r' <"$CASE_DIR/version.txt")" = "Halcyon压缩 $win_version" ] || fail "--version printed: $(cat "$CASE_DIR/version.txt")"
  check_archive "$JOB_OUT/Nightly.rar" "$JOB_SRC/a/Nightly.BAK"
  grep -q 'eventlog.*L"100: ' "$CASE_DIR/wine.log" || fail "no event 100 reached ReportEventW: $(grep eventlog "$CASE_DIR/wine.log" | head -5)"
  # The worst day: the archives proven, and a backup given back with its bytes and time.
  (cd "$work" && wine "$WIN_APP/halcyon.exe" --verify >"$CASE_DIR/verify.txt" 2>/dev/null) || fail "--verify failed: $(cat "$CASE_DIR/verify.txt")"
  [ "$(grep -c ' ok' "$CASE_DIR/verify.txt")" -eq 2 ] || fail "--verify printed: $(cat "$CASE_DIR/verify.txt")"
  mkdir "$work/restore"
  (cd "$work" && wine "$WIN_APP/halcyon.exe" --extract "$(winepath -w "$JOB_OUT/Nightly.rar")" restore >"$CASE_DIR/extract.txt" 2>/dev/null) ||
    fail "--extract failed: $(cat "$CASE_DIR/extract.txt")"
  cmp "$work/restore/Nightly.BAK" "$JOB_SRC/a/Nightly.BAK" || fail "--extract gave back other bytes"
  [ "$(stat -c %Y "$work/restore/Nightly.BAK")" = "$(stat -c %Y "$JOB_SRC/a/Nightly.BAK")" ] || fail "--extract did not keep the backup's time"
}

start_xvfb
run_case headless-run headless_case
run_case portable-zip portable_case
run_case held-archive held_archive_case
finish

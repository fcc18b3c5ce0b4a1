# The program ended in the middle of a long job, by its window's close button and by
# kill -9: the older archive of the same name stays whole.
#   bash e2e-close.sh PROGRAM X11TOOL

. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# A 3 GiB backup of zeros (sparse, so it costs no disk) keeps the worker busy for a while;
# big.rar from an earlier run lies in the output directory.
prepare_long_job() {
  WORK="$CASE_DIR/work" SRC="$CASE_DIR/src" OUT="$CASE_DIR/out"
  mkdir -p "$WORK" "$SRC" "$OUT"
  truncate -s 3G "$SRC/big.bak"
  random_file "$CASE_DIR/old/big.bak" 50000
  (cd "$CASE_DIR/old" && bsdtar --format zip -cf "$OUT/big.rar" big.bak)
  OLD_SUM="$(sha256sum <"$OUT/big.rar")"
  write_path_files "$WORK" "$SRC" "$OUT"
  record_tree "$SRC"

  start_program "$WORK"
  focus_run_now_from_start
  keys space
  wait_until 60 writing_into "$OUT" || fail "the job did not begin to write"
}

old_archive_whole() {
  [ -f "$OUT/big.rar" ] || fail "big.rar is gone"
  [ "$(sha256sum <"$OUT/big.rar")" = "$OLD_SUM" ] || fail "big.rar was changed by the unfinished job"
  unzip -tq "$OUT/big.rar" >/dev/null || fail "big.rar is broken"
}

close_case() {
  prepare_long_job
  # A second run now meanwhile is refused.
  keys space
  expect_boxes 1
  writing_into "$OUT" || fail "the job ended before the window could be closed; make the backup larger"
  "$E2E_TOOL" close "$MAIN_WIN" || fail "cannot send WM_DELETE_WINDOW"
  local status=0 start=$SECONDS
  wait_until 120 exited || fail "the program did not exit within 120 s of closing"
  wait "$PROG_PID" || status=$?
  log "exited $((SECONDS - start)) s after the close request, status $status"
  [ "$status" -eq 0 ] || fail "exit status $status after closing the window"
  old_archive_whole
  expect_archives "$OUT" big.rar
  same_tree "$SRC"
}

exited() { ! program_alive; }

kill_case() {
  prepare_long_job
  kill -KILL "$PROG_PID"
  wait "$PROG_PID" 2>/dev/null || true
  old_archive_whole
  local left
  left="$(cd "$OUT" && find . -mindepth 1 ! -name big.rar -printf '%P (%s bytes)\n')"
  if [ -n "$left" ]; then
    echo "note: left over after kill -9: $left"
  else
    echo "note: nothing left over after kill -9"
  fi
  same_tree "$SRC"
}

start_xvfb
run_case close-mid-job close_case
run_case kill-9-mid-job kill_case
finish

# Unattended mode at the default daily time 8:00, reached a few seconds after start by
# giving the program a clock that starts shortly before it.
#   bash e2e-schedule.sh PROGRAM X11TOOL

. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

FAKETIME_LIB="$(dpkg -L libfaketime 2>/dev/null | grep '/libfaketime\.so\.1$' | head -n 1 || true)"
# A sanitizer build insists on its runtime coming first among the preloads.
SANITIZER_LIB="$(ldd "$E2E_PROGRAM" | awk '$1 ~ /^libasan\.so/ { print $3 }' | head -n 1)"
PRELOAD="${SANITIZER_LIB:+$SANITIZER_LIB:}$FAKETIME_LIB"

# start_at_clock WORKDIR HH:MM:SS: the program's clock starts at that time today and runs.
start_at_clock() {
  [ -n "$FAKETIME_LIB" ] || fail "libfaketime is not installed (Debian package faketime)"
  CLOCK_START="$1"
  CLOCK_ORIGIN=$SECONDS
  start_program "$2" LD_PRELOAD="$PRELOAD" FAKETIME="@2024-03-07 $CLOCK_START" \
    FAKETIME_DONT_FAKE_MONOTONIC=1 TZ=UTC
}

# Seconds of the program's clock since its midnight, give or take a second.
program_clock() {
  local h m s
  IFS=: read -r h m s <<<"$CLOCK_START"
  echo $((10#$h * 3600 + 10#$m * 60 + 10#$s + SECONDS - CLOCK_ORIGIN))
}
before_eight() { [ "$(program_clock)" -lt $((8 * 3600 - 2)) ]; }
within_eight() { local t; t="$(program_clock)"; [ "$t" -gt $((8 * 3600 + 1)) ] && [ "$t" -lt $((8 * 3600 + 58)) ]; }

archives_written() { [ -f "$1/a.rar" ] && [ -f "$1/b.rar" ]; }

daily_run_case() {
  local work="$CASE_DIR/work" src="$CASE_DIR/src" out="$CASE_DIR/out"
  mkdir -p "$work"
  random_file "$src/a.bak" 20000
  random_file "$src/sub/b.bak" 3000
  write_path_files "$work" "$src" "$out"
  record_tree "$src"

  start_at_clock 07:59:40 "$work"
  focus_toggle_from_start
  keys space
  wait_until 30 worker_running || fail "switching unattended mode on started no worker"
  # Only meaningful while the program's clock is surely before 8:00.
  if before_eight; then
    sleep 1
    if before_eight && [ -e "$out" ]; then fail "unattended mode wrote before 8:00: $(ls -A "$out")"; fi
  else
    log "note: start-up took too long to check that nothing is written before 8:00"
  fi

  wait_until 120 archives_written "$out" || fail "no archives by 8:00 (clock now $(program_clock) s)"
  wait_until 60 writing_done "$out" || fail "the daily job did not finish"
  expect_archives "$out" a.rar b.rar
  check_archive "$out/a.rar" "$src/a.bak"
  check_archive "$out/b.rar" "$src/sub/b.bak"
  worker_running || fail "the worker ended after a daily job that found backups"
  assert_responsive

  # Once per minute: while the clock still shows 8:00 the archives are not written again.
  local inode
  inode="$(stat -c '%i %Y' "$out/a.rar")"
  sleep 3
  if within_eight; then
    [ "$(stat -c '%i %Y' "$out/a.rar")" = "$inode" ] || fail "the job ran twice within 8:00"
  fi

  # Run now is refused while unattended mode is on; the toggle is reached from it
  # forwards, past the disabled path fields and time edit.
  keys shift+Tab space
  expect_boxes 1
  keys Tab space
  wait_until 30 worker_stopped || fail "switching unattended mode off did not end the worker"
  assert_responsive
  only_sound_archives "$out"
  same_tree "$src"
}

writing_done() { ! writing_into "$1"; }

nothing_found_case() {
  local work="$CASE_DIR/work" src="$CASE_DIR/src" out="$CASE_DIR/out"
  mkdir -p "$work"
  random_file "$src/readme.txt" 100
  write_path_files "$work" "$src" "$out"
  record_tree "$src"

  start_at_clock 07:59:50 "$work"
  focus_toggle_from_start
  keys space
  wait_until 30 worker_running || fail "switching unattended mode on started no worker"
  # At 8:00 the job finds nothing: one box, the worker ends and the window shows the mode off.
  E2E_BOX_TIMEOUT=120 expect_boxes 1
  wait_until 30 worker_stopped || fail "the worker went on after a daily job that found nothing"
  # So the toggle switches it on again, and within 8:00 that run finds nothing once more.
  if within_eight; then
    keys space
    E2E_BOX_TIMEOUT=60 expect_boxes 1
    wait_until 30 worker_stopped || fail "the second schedule went on after finding nothing"
  else
    log "note: start-up took too long to switch on again within 8:00"
  fi
  sleep 1
  no_boxes || fail "a box is left open"
  assert_responsive
  [ ! -e "$out" ] || fail "a job without backups made $out"
  same_tree "$src"
}

start_xvfb
run_case daily-run daily_run_case
run_case daily-nothing-found nothing_found_case
finish

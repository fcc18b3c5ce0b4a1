# Shared by the end-to-end scripts: a virtual screen, the real program on it, its
# windows and boxes, its worker thread, the trees it reads and the archives it writes.
#   . lib.sh PROGRAM X11TOOL
# Each script runs its cases with run_case; a case runs in a subshell of its own, so a
# failed check ends that case only, and everything it started is ended with it.

set -euo pipefail

E2E_PROGRAM="$(realpath "$1")"
E2E_TOOL="$(realpath "$2")"
shift 2
[ -x "$E2E_PROGRAM" ] || { echo "no program at $E2E_PROGRAM" >&2; exit 1; }
[ -x "$E2E_TOOL" ] || { echo "no x11tool at $E2E_TOOL" >&2; exit 1; }

E2E_ROOT="$(mktemp -d "${TMPDIR:-/tmp}/halcyon-e2e.XXXXXX")"
E2E_XVFB_PID=""
E2E_RESULTS=()
E2E_FAILED=0
E2E_PASSED=0
E2E_SKIPPED=0

# Processes and mounts of the current case, ended by its own exit trap.
CASE_PIDS=()
CASE_MOUNTS=()

# On a loaded two-core machine everything may take a while; these only guard against hangs.
: "${E2E_START_TIMEOUT:=60}"
: "${E2E_JOB_TIMEOUT:=300}"
: "${E2E_BOX_TIMEOUT:=30}"

log() { printf '%s\n' "$*" >&2; }
fail() { log "FAIL: $*"; exit 1; }
skip() { log "SKIP: $*"; exit 77; }

end_pid() {
  local pid="$1" i
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for i in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

case_cleanup() {
  local pid mount
  for pid in "${CASE_PIDS[@]}"; do end_pid "$pid"; done
  for mount in "${CASE_MOUNTS[@]}"; do umount "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null || true; done
}

e2e_cleanup() {
  local status=$?
  [ -n "$E2E_XVFB_PID" ] && end_pid "$E2E_XVFB_PID"
  rm -rf "$E2E_ROOT"
  exit "$status"
}
trap e2e_cleanup EXIT

# --- the virtual screen ---------------------------------------------------------------

start_xvfb() {
  local fifo="$E2E_ROOT/displayfd" number=""
  mkfifo "$fifo"
  # -noreset: by default the server resets when its last client leaves, and a program
  # starting during that reset cannot connect.
  Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >"$E2E_ROOT/xvfb.log" 2>&1 &
  E2E_XVFB_PID=$!
  read -r -t "$E2E_START_TIMEOUT" number <"$fifo" || true
  [ -n "$number" ] || { cat "$E2E_ROOT/xvfb.log" >&2; fail "Xvfb did not start"; }
  export DISPLAY=":$number"
  wait_until "$E2E_START_TIMEOUT" display_answers || { cat "$E2E_ROOT/xvfb.log" >&2; fail "Xvfb on $DISPLAY does not answer"; }
}

display_answers() { xdpyinfo >/dev/null 2>&1; }

# For a failure report: is the screen still there?
display_report() {
  if kill -0 "$E2E_XVFB_PID" 2>/dev/null && display_answers; then
    log "Xvfb on $DISPLAY is running and answers"
  else
    log "Xvfb on $DISPLAY is gone or does not answer; its log:"
    cat "$E2E_ROOT/xvfb.log" >&2
  fi
}

# --- polling ---------------------------------------------------------------------------

# wait_until SECONDS COMMAND...: true once COMMAND succeeds, false when time is up.
wait_until() {
  local limit="$1" start=$SECONDS
  shift
  while ! "$@"; do
    [ $((SECONDS - start)) -lt "$limit" ] || return 1
    sleep 0.1
  done
}

# --- the program -----------------------------------------------------------------------

# write_path_files DIR SOURCE OUTPUT: the two saved paths, GBK bytes without a line end;
# an empty argument leaves that file out.
write_path_files() {
  local dir="$1"
  if [ -n "$2" ]; then printf '%s' "$2" | iconv -f UTF-8 -t GBK >"$dir/filepath.ini"; fi
  if [ -n "$3" ]; then printf '%s' "$3" | iconv -f UTF-8 -t GBK >"$dir/CompressFileFath.ini"; fi
}

# start_program WORKDIR [VAR=VALUE...]: runs the program there; sets PROG_PID and MAIN_WIN
# and gives the window the keyboard focus.
start_program() {
  local dir="$1"
  shift
  PROG_LOG="$CASE_DIR/program.log"
  local attempt
  for attempt in 1 2 3; do
    (cd "$dir" && exec env QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 "$@" "$E2E_PROGRAM") >"$PROG_LOG" 2>&1 &
    PROG_PID=$!
    CASE_PIDS+=("$PROG_PID")
    MAIN_WIN=""
    wait_until "$E2E_START_TIMEOUT" window_or_gone || true
    [ -z "$MAIN_WIN" ] || break
    # Not reaching the screen is the test bed's trouble, not the program's: try again.
    program_alive || ! grep -q 'could not connect to display' "$PROG_LOG" || [ "$attempt" = 3 ] || {
      log "note: the program could not connect to $DISPLAY (attempt $attempt); starting it again"
      display_report
      wait_until 10 display_answers || true
      continue
    }
    cat "$PROG_LOG" >&2
    display_report
    fail "the main window did not appear"
  done
  focus_main
}

window_or_gone() { find_main_window || ! program_alive; }

find_main_window() {
  MAIN_WIN="$(xdotool search --all --onlyvisible --pid "$PROG_PID" --name '^Halcyon' 2>/dev/null | head -n 1 || true)"
  [ -n "$MAIN_WIN" ]
}

# A program that has ended stays a zombie until reaped; that counts as gone.
program_alive() {
  kill -0 "$PROG_PID" 2>/dev/null && [ "$(sed -E 's/.*\) (.).*/\1/' /proc/"$PROG_PID"/stat 2>/dev/null)" != Z ]
}

# Alive, its window still there, and its GUI thread answering a window manager's ping.
assert_responsive() {
  program_alive || fail "the program is gone (see $PROG_LOG)"
  xwininfo -id "$MAIN_WIN" >/dev/null 2>&1 || fail "the main window is gone"
  "$E2E_TOOL" ping "$MAIN_WIN" 20000 || fail "the main window does not answer a ping within 20 s"
}

focus_main() {
  timeout 20 xdotool windowfocus --sync "$MAIN_WIN" || fail "cannot focus the main window"
}

# keys KEY...: typed into the main window. Qt keeps the focused widget across focus changes.
keys() {
  focus_main
  xdotool key --delay 80 "$@"
}

# Tab order from the start-up focus (lePath): lePath, btnRightNowStart, leOutputPath,
# timeEdit, btnStart, listWidget, round again. The toggle is reached backwards: the time
# edit takes one Tab per section, and its sections follow the locale.
focus_run_now_from_start() { keys Tab; }
focus_toggle_from_start() { keys shift+Tab shift+Tab; }

# --- warning boxes ---------------------------------------------------------------------

boxes() { xdotool search --all --onlyvisible --pid "$PROG_PID" --name '^ $' 2>/dev/null || true; }
box_count() { boxes | grep -c . || true; }
has_boxes() { [ "$(box_count)" -ge "${1:-1}" ]; }
no_boxes() { [ "$(box_count)" -eq 0 ]; }
# What a wrong count alone does not tell: the program's windows, its worker, its event loop.
box_report() {
  local window
  for window in $(xdotool search --all --pid "$PROG_PID" --name '' 2>/dev/null); do
    printf '\n  window %s "%s" %s' "$window" "$(xdotool getwindowname "$window" 2>/dev/null)" \
      "$(xwininfo -id "$window" 2>/dev/null | grep -o 'IsViewable\|IsUnMapped\|IsUnviewable')"
  done
  if worker_running; then printf '\n  the worker runs'; else printf '\n  the worker has ended'; fi
  if "$E2E_TOOL" ping "$MAIN_WIN" 5000; then printf '\n  the main window answers'; else printf '\n  the main window does not answer'; fi
}

# expect_boxes N: waits for N open boxes, makes sure no more come, and closes them from
# the keyboard, newest first (an older one is blocked behind it), each with Return on its
# "确定" button.
expect_boxes() {
  local want="$1" box
  wait_until "$E2E_BOX_TIMEOUT" has_boxes "$want" || fail "expected $want warning box(es), saw $(box_count)$(box_report)"
  sleep 1
  [ "$(box_count)" -eq "$want" ] || fail "expected $want warning box(es) after a second, saw $(box_count)$(box_report)"
  while [ "$(box_count)" -gt 0 ]; do
    box="$(boxes | sort -n | tail -n 1)"
    timeout 20 xdotool windowfocus --sync "$box" || fail "cannot focus box $box"
    xdotool key Return
    wait_until "$E2E_BOX_TIMEOUT" gone_window "$box" || fail "box $box did not close on Return"
  done
}

gone_window() { ! xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }

# --- the worker ------------------------------------------------------------------------

# Qt names a QThread's system thread after its class, so the worker is visible from here.
worker_running() { grep -qsx CompressTask /proc/"$PROG_PID"/task/*/comm; }
worker_stopped() { ! worker_running; }

# wait_job [COMMAND...]: after a command was given, waits until the worker has run and
# ended. A job too quick to be seen counts as done once COMMAND holds, or after a grace
# period without COMMAND.
wait_job() {
  local start=$SECONDS seen=0
  while :; do
    if worker_running; then
      seen=1
    elif [ "$seen" = 1 ] || { [ $# -gt 0 ] && "$@"; }; then
      return 0
    elif [ $# -eq 0 ] && [ $((SECONDS - start)) -ge 15 ]; then
      return 0
    fi
    [ $((SECONDS - start)) -lt "$E2E_JOB_TIMEOUT" ] || fail "the job did not end within $E2E_JOB_TIMEOUT s"
    sleep 0.05
  done
}

# Files of the directory that the program holds open (a temporary archive shows here).
open_files_in() {
  local dir="$1" fd target
  for fd in /proc/"$PROG_PID"/fd/*; do
    target="$(readlink "$fd" 2>/dev/null || true)"
    case "$target" in "$dir"/*) printf '%s\n' "$target" ;; esac
  done
}
writing_into() { [ -n "$(open_files_in "$1")" ]; }

# --- trees and archives ----------------------------------------------------------------

# tree_state DIR [SKIPPED...]: every entry with its type, mode, size, time and link target,
# and the checksum of every regular file; equal outputs mean an unchanged tree. SKIPPED
# are relative paths left out whole (parts of a tree that a case changes on purpose).
tree_state() {
  local dir="$1" skipped=() path
  shift
  for path in "$@"; do skipped+=(-path "./$path" -prune -o); done
  (
    cd "$dir"
    find . "${skipped[@]}" -printf '%P\t%y\t%m\t%s\t%T@\t%l\n' | LC_ALL=C sort
    find . "${skipped[@]}" -type f -print0 | LC_ALL=C sort -z | xargs -0r sha256sum
  )
}

# record_tree DIR [SKIPPED...] and later same_tree DIR [SKIPPED...] with the same arguments.
tree_record_file() { echo "$CASE_DIR/tree.$(printf "%s" "$1" | sha256sum | cut -c1-12)"; }
record_tree() { tree_state "$@" >"$(tree_record_file "$1")"; }
same_tree() {
  tree_state "$@" >"$CASE_DIR/tree.now"
  diff "$(tree_record_file "$1")" "$CASE_DIR/tree.now" >&2 || fail "the source tree $1 changed"
}


# random_file PATH BYTES
random_file() { mkdir -p "$(dirname "$1")"; head -c "$2" /dev/urandom >"$1"; }

# check_archive ARCHIVE SOURCE [ENTRY]: one entry, named ENTRY (default: the source's bare
# name), read back whole by three readers; the streaming reader gets it from a pipe.
check_archive() {
  local archive="$1" source="$2" entry="${3:-$(basename "$2")}" names
  [ -f "$archive" ] || fail "no archive $archive"
  unzip -tq "$archive" >/dev/null || fail "unzip -t rejects $archive"
  7z t "$archive" >/dev/null || fail "7z t rejects $archive"
  names="$(LC_ALL=C.UTF-8 bsdtar -tf - <"$archive")" || fail "bsdtar cannot list $archive"
  [ "$names" = "$entry" ] || fail "$archive holds [$names], expected the one entry [$entry]"
  cat "$archive" | bsdtar -xOf - | cmp - "$source" || fail "$archive does not hold the bytes of $source"
}

# What a job in which nothing failed leaves beside the archives.
SUCCESS_MARK=halcyon-last-success.txt

# The output directory holds exactly these archive names, as regular files (and perhaps the
# success mark).
expect_archives() {
  local dir="$1" want got
  shift
  want="$(printf '%s\n' "$@" | grep . | LC_ALL=C sort || true)"
  got="$(cd "$dir" && find . -mindepth 1 ! -name "$SUCCESS_MARK" -printf '%P\n' | LC_ALL=C sort)"
  [ "$want" = "$got" ] || { diff <(echo "$want") <(echo "$got") >&2; fail "archives in $dir differ from the expected ones"; }
}

# Whatever the output directory holds: only regular *.rar files, each a sound ZIP, and
# the program holds nothing in it open.
only_sound_archives() {
  local dir="$1" entry count=0 report
  [ -d "$dir" ] || return 0
  while IFS= read -r -d '' entry; do
    case "$entry" in
      *.rar) [ -f "$dir/$entry" ] && [ ! -L "$dir/$entry" ] || fail "$dir/$entry is not a regular file" ;;
      "$SUCCESS_MARK") [ -f "$dir/$entry" ] && [ ! -L "$dir/$entry" ] || fail "$dir/$entry is not a regular file"
        continue ;;
      *) fail "left over in the output directory: $entry" ;;
    esac
    count=$((count + 1))
  done < <(cd "$dir" && find . -mindepth 1 -printf '%P\0')
  # One unzip for all of them (its own wildcard): a process per archive takes minutes
  # for 10 000. It names every broken one, and counts the sound ones when there are several.
  if [ "$count" -gt 0 ]; then
    report="$(unzip -tq "$dir/*.rar" 2>&1)" || { echo "$report" | grep -v '^No errors' >&2; fail "broken archive(s) left in $dir"; }
    [ "$count" -eq 1 ] || echo "$report" | grep -qx "$count archives were successfully processed." \
      || { echo "$report" | tail -n 3 >&2; fail "unzip did not test all $count archives in $dir"; }
  fi
  [ -z "$(open_files_in "$dir")" ] || fail "the program still holds open: $(open_files_in "$dir")"
}

# --- cases -----------------------------------------------------------------------------

# run_case NAME FUNCTION: runs FUNCTION in a fresh directory CASE_DIR, in a subshell.
run_case() {
  local name="$1" fn="$2" status=0
  log "=== $name"
  # Not "( ... ) || status=$?": on the left of || the subshell would ignore errexit.
  set +e
  (
    set -e
    CASE_DIR="$E2E_ROOT/$name"
    mkdir -p "$CASE_DIR"
    CASE_PIDS=()
    CASE_MOUNTS=()
    trap case_cleanup EXIT
    "$fn"
  )
  status=$?
  set -e
  case "$status" in
    0) E2E_RESULTS+=("PASS $name"); E2E_PASSED=$((E2E_PASSED + 1)) ;;
    77) E2E_RESULTS+=("SKIP $name"); E2E_SKIPPED=$((E2E_SKIPPED + 1)) ;;
    *) E2E_RESULTS+=("FAIL $name"); E2E_FAILED=$((E2E_FAILED + 1)) ;;
  esac
  log "--- ${E2E_RESULTS[-1]}"
}

# Prints the results; fails on any failed case, reports a skip when nothing else ran.
finish() {
  printf '%s\n' "${E2E_RESULTS[@]}"
  echo "$E2E_PASSED passed, $E2E_FAILED failed, $E2E_SKIPPED skipped"
  [ "$E2E_FAILED" -eq 0 ] || exit 1
  [ "$E2E_PASSED" -gt 0 ] || [ "$E2E_SKIPPED" -eq 0 ] || exit 77
  exit 0
}

# The program's working directory: it gains no file and its path files keep their bytes.
work_state() { (cd "$1" && ls -A && find . -maxdepth 1 -type f -exec sha256sum {} + | LC_ALL=C sort); }

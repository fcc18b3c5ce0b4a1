# Commands that end in warning boxes: each box appears, closes from the keyboard, and
# leaves the program as it was, so the same command meets the same box again.
#   bash e2e-refusals.sh PROGRAM X11TOOL

. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# name | saved source | saved output | command | boxes per command
#   source: "-" none, "tree" a directory with a backup, "nobak" one without, "missing" absent
CASES=(
  "no-paths-run-now     - -   run-now 1"
  "no-paths-toggle      - -   toggle  1"
  "no-output-run-now    tree - run-now 1"
  "no-output-toggle     tree - toggle  1"
  "no-source-toggle     - out toggle  1"
  "missing-source       missing out run-now 2"
  "no-backups           nobak out run-now 1"
)

refusal_case() {
  local source_kind="$1" output_kind="$2" command="$3" count="$4"
  local work="$CASE_DIR/work" src="" out=""
  mkdir -p "$work"
  case "$source_kind" in
    tree) src="$CASE_DIR/src"; random_file "$src/a.bak" 100 ;;
    nobak) src="$CASE_DIR/src"; random_file "$src/a.bak.txt" 100; random_file "$src/sub/b.bak.old" 100 ;;
    missing) src="$CASE_DIR/不存在" ;;
  esac
  [ "$output_kind" = out ] && out="$CASE_DIR/out"
  write_path_files "$work" "$src" "$out"
  if [ -d "$src" ]; then record_tree "$src"; fi
  local work_before
  work_before="$(work_state "$work")"

  start_program "$work"
  case "$command" in
    run-now) focus_run_now_from_start ;;
    toggle) focus_toggle_from_start ;;
  esac
  local round
  for round in 1 2; do
    keys space
    expect_boxes "$count"
    wait_until 30 worker_stopped || fail "the worker did not end"
    assert_responsive
  done

  if [ -n "$out" ] && [ -e "$out" ]; then fail "the output directory $out was made for a job that wrote nothing"; fi
  if [ -d "$src" ]; then same_tree "$src"; fi
  [ "$(work_state "$work")" = "$work_before" ] || fail "the working directory changed: $(ls -A "$work")"
}

start_xvfb
for row in "${CASES[@]}"; do
  read -r name args <<<"$row"
  eval "case_$name() { refusal_case $args; }"
  run_case "$name" "case_$name"
done
finish

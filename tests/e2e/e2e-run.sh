# Run now on a tree of awkward names: the right archives, no others, each read back whole.
#   bash e2e-run.sh PROGRAM X11TOOL
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Source and output directories with Chinese names, so the saved GBK paths matter too.
tree_case() {
  local work="$CASE_DIR/work" src="$CASE_DIR/源数据" out="$CASE_DIR/输出/压缩"
  mkdir -p "$work"
  random_file "$src/a/b/Nightly.BAK" 10000        # nested, upper-case suffix, several pieces
  random_file "$src/Mixed.bAk" $((1024 * 1024 + 1)) # many pieces, a short last one
  random_file "$src/plain.bak" 4096                 # exactly one piece
  random_file "$src/中文备份.bak" 5000
  random_file "$src/old.bak/inner.bak" 300          # a directory named like a backup
  : >"$src/empty.bak"
  # Compressible, several blocks deflated on several threads.
  head -c $((5 * 1024 * 1024 + 7)) < <(yes 'INSERT INTO t VALUES (4711, 0.25);') >"$src/a/rows.bak"
  random_file "$src/.hidden.bak" 100                # hidden: passed over
  random_file "$src/.hiddendir/x.bak" 100           # inside a hidden directory: passed over
  random_file "$src/notes.txt" 100
  random_file "$src/data.bak.txt" 100
  random_file "$src/a/backup.bak~" 100
  write_path_files "$work" "$src" "$out"
  local expected=(Nightly.rar Mixed.rar plain.rar 中文备份.rar inner.rar empty.rar rows.rar)
  record_tree "$src"
  local work_before
  work_before="$(work_state "$work")"

  start_program "$work"
  local title
  title="$(xprop -id "$MAIN_WIN" _NET_WM_NAME)"
  [ "$title" = '_NET_WM_NAME(UTF8_STRING) = "Halcyon压缩"' ] || fail "window title: $title"

  focus_run_now_from_start
  keys space
  wait_job test -f "$out/inner.rar"
  no_boxes || fail "a warning box appeared for a tree full of backups"
  expect_archives "$out" "${expected[@]}"
  grep -qx "written=${#expected[@]}" "$out/$SUCCESS_MARK" || fail "no success mark after a good job"
  check_archive "$out/Nightly.rar" "$src/a/b/Nightly.BAK"
  check_archive "$out/Mixed.rar" "$src/Mixed.bAk"
  check_archive "$out/plain.rar" "$src/plain.bak"
  check_archive "$out/中文备份.rar" "$src/中文备份.bak"
  check_archive "$out/inner.rar" "$src/old.bak/inner.bak"
  check_archive "$out/empty.rar" "$src/empty.bak"
  check_archive "$out/rows.rar" "$src/a/rows.bak"
  only_sound_archives "$out"
  assert_responsive

  # The same worker takes a second job: every backup touched since is archived anew, the
  # untouched Nightly.BAK is not (its archive keeps its bytes and time).
  touch "$CASE_DIR/marker"
  sleep 1.1
  find "$src" -type f ! -name Nightly.BAK -exec touch {} +
  record_tree "$src"
  local kept
  kept="$(stat -c %Y "$out/Nightly.rar") $(sha256sum <"$out/Nightly.rar")"
  keys space
  wait_job all_rewritten "$out" "$CASE_DIR/marker" $((${#expected[@]} - 1))
  all_rewritten "$out" "$CASE_DIR/marker" $((${#expected[@]} - 1)) || fail "the second run did not rewrite every touched backup's archive"
  [ "$(stat -c %Y "$out/Nightly.rar") $(sha256sum <"$out/Nightly.rar")" = "$kept" ] || fail "the untouched Nightly.BAK was archived again"
  expect_archives "$out" "${expected[@]}"
  check_archive "$out/Nightly.rar" "$src/a/b/Nightly.BAK"
  check_archive "$out/中文备份.rar" "$src/中文备份.bak"
  only_sound_archives "$out"
  assert_responsive

  same_tree "$src"
  [ "$(work_state "$work")" = "$work_before" ] || fail "the working directory changed: $(ls -A "$work")"
}

all_rewritten() { [ "$(find "$1" -newer "$2" -name '*.rar' | wc -l)" -eq "$3" ]; }

start_xvfb
run_case run-now-tree tree_case
finish

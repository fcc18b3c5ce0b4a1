# Shared by the Wine tests: the end-to-end helpers (tests/e2e/lib.sh), the portable zip
# unpacked into WIN_APP, a fresh Windows per case.
#   . winelib.sh SOURCE_DIR VERSION X11TOOL      skips (77) without the packages in dist/
win_source="$(realpath "$1")"
WIN_ZIP="$win_source/dist/halcyon-$2-win64.zip"
WIN_SETUP="$win_source/dist/halcyon-$2-setup.exe"
[ -f "$WIN_ZIP" ] && [ -f "$WIN_SETUP" ] ||
  { echo "SKIP: no $WIN_ZIP or $WIN_SETUP: build them with tools/windows/package.sh" >&2; exit 77; }
. "$win_source/tools/ensure-deps.sh"
ensure_packages wine wine64 xvfb xauth xdotool x11-utils unzip python3-pefile libarchive-tools p7zip-full
ensure_locale zh_CN

# The program that lib.sh knows is Wine; WIN_APP/halcyon.exe is what Wine runs.
win_version="$2"
set -- "$(command -v wine)" "$3"
. "$win_source/tests/e2e/lib.sh"
unzip -q "$WIN_ZIP" -d "$E2E_ROOT/zip"
WIN_APP="$E2E_ROOT/zip/halcyon-$win_version-win64"
# A case also ends the Wine of its prefix.
eval "$(declare -f case_cleanup | sed '1s/case_cleanup/e2e_case_cleanup/')"
case_cleanup() { e2e_case_cleanup; [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true; }

# The operators' code page 936 (GBK); no Mono or Gecko dialogs, no host menu entries.
export LANG=zh_CN.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset LC_ALL LC_CTYPE

new_wineprefix() {
  export WINEPREFIX="$CASE_DIR/wine"
  wineboot -i >"$CASE_DIR/wineboot.log" 2>&1 && wineserver -w || { cat "$CASE_DIR/wineboot.log" >&2; fail "wineboot failed"; }
}

# start_wine WORKDIR COMMAND...: start_program for Wine. COMMAND may start the program
# through another process (a shortcut), so the window tells its process.
start_wine() {
  PROG_LOG="$CASE_DIR/program.log"
  (cd "$1" && shift && exec wine "$@") >"$PROG_LOG" 2>&1 &
  CASE_PIDS+=($!)
  wait_until "$E2E_START_TIMEOUT" wine_window || { cat "$PROG_LOG" >&2; fail "the main window did not appear"; }
  PROG_PID="$(xprop -id "$MAIN_WIN" _NET_WM_PID | sed 's/.* = //')" && CASE_PIDS+=("$PROG_PID")
  focus_main
}
wine_window() { MAIN_WIN="$(xdotool search --onlyvisible --name '^Halcyon压缩$' 2>/dev/null | head -n 1)"; [ -n "$MAIN_WIN" ]; }

# prepare_job WORKDIR: path files there (Windows paths, GBK) for a tree of two backups;
# run_job, with the program running there: "立即执行" writes both archives whole.
prepare_job() {
  JOB_SRC="$CASE_DIR/源数据" JOB_OUT="$CASE_DIR/输出"
  random_file "$JOB_SRC/中文备份.bak" 5000
  random_file "$JOB_SRC/a/Nightly.BAK" $((1024 * 1024 + 1))
  write_path_files "$1" "Z:$JOB_SRC" "Z:$JOB_OUT"
}
run_job() {
  focus_run_now_from_start
  keys space
  wait_job test -f "$JOB_OUT/中文备份.rar" -a -f "$JOB_OUT/Nightly.rar"
  expect_archives "$JOB_OUT" 中文备份.rar Nightly.rar
  check_archive "$JOB_OUT/中文备份.rar" "$JOB_SRC/中文备份.bak"
  check_archive "$JOB_OUT/Nightly.rar" "$JOB_SRC/a/Nightly.BAK"
}

# Shared by the Wine tests: the end-to-end helpers (tests/e2e/lib.sh), the portable zip
# unpacked into WIN_APP, a fresh Windows per case.
#   . winelib.sh SOURCE_DIR VERSION X11TOOL      skips (77) without the packages in dist/
win_source="$(realpath "$1")"
WIN_ZIP="$win_source/dist/halcyon-$2-win64.zip"
WIN_SETUP="$win_source/dist/halcyon-$2-setup.exe"
[ -f "$WIN_ZIP" ] && [ -f "$WIN_SETUP" ] ||
  { echo "SKIP: no $WIN_ZIP or $WIN_SETUP: build them with tools/windows/package.sh" >&2; exit 77; }
. "$win_source/tools/ensure-deps.sh"
ensure_packages wine wine64 xvfb xauth xdotool x11-utils unzip python3-pefile libarchive-tools p7zip-full \
  gcc-mingw-w64-x86-64-posix
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
  # Wine now and then fails to boot a new prefix ("could not load kernel32.dll") while another
  # test's Wine starts beside it: a second, fresh try.
  if ! { wineboot -i >"$CASE_DIR/wineboot.log" 2>&1 && wineserver -w; }; then
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    sleep 2
    wineboot -i >>"$CASE_DIR/wineboot.log" 2>&1 && wineserver -w || { cat "$CASE_DIR/wineboot.log" >&2; fail "wineboot failed"; }
  fi
  # The window's fonts, which a real Windows has, as the CJK font of this machine; without
  # it Latin text falls back to a serif face.
  local font
  for font in 微软雅黑 "Microsoft Yahei"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d "WenQuanYi Micro Hei" /f \
      >/dev/null 2>&1 || fail "cannot set a font replacement for $font"
  done
}

# start_wine WORKDIR COMMAND...: start_program for Wine. COMMAND may start the program
# through another process (a shortcut), so the window tells its process.
start_wine() {
  PROG_LOG="$CASE_DIR/program.log"
  (cd "$1" && shift && exec wine "$@") >"$PROG_LOG" 2>&1 &
  WIN_LAUNCHER=$!
  CASE_PIDS+=("$WIN_LAUNCHER")
  wait_until "$E2E_START_TIMEOUT" wine_window || { cat "$PROG_LOG" >&2; fail "the main window did not appear"; }
  PROG_PID="$(xprop -id "$MAIN_WIN" _NET_WM_PID | sed 's/.* = //')" && CASE_PIDS+=("$PROG_PID")
  focus_main
}
# Closing the window as a window manager does ends the program with exit code 0 (for a
# program started through "start /wait", the code it hands on).
close_exits_zero() {
  "$E2E_TOOL" close "$MAIN_WIN" || fail "cannot close the main window"
  wait_until 60 launcher_gone || fail "the program did not end after its window was closed"
  local status=0
  wait "$WIN_LAUNCHER" || status=$?
  [ "$status" -eq 0 ] || fail "the program exited with $status after its window was closed"
}
launcher_gone() { ! kill -0 "$WIN_LAUNCHER" 2>/dev/null || [ "$(sed -E 's/.*\) (.).*/\1/' /proc/"$WIN_LAUNCHER"/stat 2>/dev/null)" = Z ]; }

wine_window() { MAIN_WIN="$(xdotool search --onlyvisible --name '^Halcyon压缩$' 2>/dev/null | head -n 1)"; [ -n "$MAIN_WIN" ]; }

# prepare_job WORKDIR: path files there (Windows paths, GBK) for a tree of two backups;
# run_job, with the program running there: "立即执行" writes both archives whole.
prepare_job() {
  JOB_SRC="$CASE_DIR/源数据" JOB_OUT="$CASE_DIR/输出"
  random_file "$JOB_SRC/中文备份.bak" 5000
  random_file "$JOB_SRC/a/Nightly.BAK" $((1024 * 1024 + 1))
  write_path_files "$1" "Z:$JOB_SRC" "Z:$JOB_OUT"
}
# The job's last steps: the success mark after the archives, then the lock let go.
job_ended() {
  [ -f "$JOB_OUT/中文备份.rar" ] && [ -f "$JOB_OUT/Nightly.rar" ] && [ -f "$JOB_OUT/$SUCCESS_MARK" ] &&
    [ ! -e "$JOB_OUT/.halcyon.lock" ]
}
run_job() {
  focus_run_now_from_start
  keys space
  wait_job job_ended
  expect_archives "$JOB_OUT" 中文备份.rar Nightly.rar
  check_archive "$JOB_OUT/中文备份.rar" "$JOB_SRC/中文备份.bak"
  check_archive "$JOB_OUT/Nightly.rar" "$JOB_SRC/a/Nightly.BAK"
  # And Python's reader, which checks the CRC as it reads.
  /usr/bin/python3 - "$JOB_OUT" "$JOB_SRC" <<'PY' || fail "Python's zipfile does not read the archives back"
import sys, zipfile
out, src = sys.argv[1:]
for archive, entry, source in (("中文备份.rar", "中文备份.bak", "中文备份.bak"), ("Nightly.rar", "Nightly.BAK", "a/Nightly.BAK")):
    with zipfile.ZipFile(f"{out}/{archive}") as z:
        assert z.namelist() == [entry], z.namelist()
        assert z.read(entry) == open(f"{src}/{source}", "rb").read()
PY
}

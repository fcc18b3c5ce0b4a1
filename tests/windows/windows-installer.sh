# The installer under Wine: /S puts the zip's files under Program Files and registers the
# uninstaller; the shortcut starts the program in %APPDATA%\Halcyon; the uninstaller /S
# takes it all away again except the operator's files there.
#   bash windows-installer.sh SOURCE_DIR VERSION X11TOOL
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/winelib.sh" "$@"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Halcyon'
# C:\ but Windows itself and the temporary files.
drive_state() { (cd "$WINEPREFIX/drive_c" && find . \( -path ./windows -o -path './users/*/Temp' \) -prune -o -printf '%P %y %s\n' | LC_ALL=C sort); }

install_case() {
  new_wineprefix
  local programs="$WINEPREFIX/drive_c/Program Files/Halcyon" appdata before operator
  appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Halcyon"
  before="$(drive_state)"
  wine "$WIN_SETUP" /S && wineserver -w || fail "the silent install failed"
  [ -f "$programs/uninstall.exe" ] || fail "no uninstaller in $programs"
  diff -r -x uninstall.exe "$WIN_APP" "$programs" >&2 || fail "Program Files\\Halcyon differs from the zip"
  wine reg query "$key" /v QuietUninstallString 2>/dev/null | grep -F -q 'uninstall.exe" /S' || fail "no uninstall entry"

  [ -d "$appdata" ] || fail "the installer made no $appdata"
  prepare_job "$appdata"
  operator="$(work_state "$appdata")"
  start_wine "$CASE_DIR" start /wait "C:\\users\\$(id -un)\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Halcyon压缩.lnk"
  run_job
  close_exits_zero
  wineserver -w

  wine "$programs/uninstall.exe" /S && wineserver -w || fail "the silent uninstall failed"
  ! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry stayed"
  [ "$(work_state "$appdata")" = "$operator" ] || fail "the operator's files in $appdata changed"
  rm -r "$appdata"
  [ "$(drive_state)" = "$before" ] || { diff <(echo "$before") <(drive_state) >&2 || true; fail "the uninstaller left files"; }
}

start_xvfb
run_case install-uninstall install_case
finish

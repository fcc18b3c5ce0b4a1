# The installer under Wine: /S puts the zip's files under Program Files and registers the
# uninstaller; the shortcut starts the program in %APPDATA%\Halcyon; the uninstaller /S
# takes it all away again except the operator's files there. The program starts at sign-in
# (Startup folder) unless installed with /NOSTARTUP. While the installed program runs, both
# refuse with a non-zero exit code and change nothing.
#   bash windows-installer.sh SOURCE_DIR VERSION X11TOOL
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/winelib.sh" "$@"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Halcyon'
event_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Halcyon'
# C:\ but Windows itself and the temporary files.
# Wine names the folder StartUp, Windows Startup.
startup_lnk() { find "$WINEPREFIX/drive_c/users" -ipath '*/Start Menu/Programs/Startup/Halcyon压缩.lnk'; }
drive_state() { (cd "$WINEPREFIX/drive_c" && find . \( -path ./windows -o -path './users/*/Temp' \) -prune -o -printf '%P %y %s\n' | LC_ALL=C sort); }

install_case() {
  new_wineprefix
  local programs="$WINEPREFIX/drive_c/Program Files/Halcyon" appdata before operator
  appdata="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Halcyon"
  before="$(drive_state)"
  wine "$WIN_SETUP" /S && wineserver -w || fail "the silent install failed"
  [ -f "$programs/uninstall.exe" ] || fail "no uninstaller in $programs"
  diff -r -x uninstall.exe "$WIN_APP" "$programs" >&2 || fail "Program Files\\Halcyon differs from the zip"
  [ -f "$programs/THIRD-PARTY-NOTICES.txt" ] && [ -f "$programs/licenses/qtbase/LICENSE.LGPL3.txt" ] || fail "no licences installed"
  wine reg query "$key" /v QuietUninstallString 2>/dev/null | grep -F -q 'uninstall.exe" /S' || fail "no uninstall entry"
  wine reg query "$event_key" /v EventMessageFile 2>/dev/null | grep -F -q 'Halcyon\halcyon.exe' || fail "no event source registered"

  [ -d "$appdata" ] || fail "the installer made no $appdata"
  [ -n "$(startup_lnk)" ] || fail "no shortcut in the Startup folder"
  prepare_job "$appdata"
  operator="$(work_state "$appdata")"
  start_wine "$CASE_DIR" start /wait "C:\\users\\$(id -un)\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Halcyon压缩.lnk"
  run_job
  close_exits_zero
  wineserver -w

  wine "$programs/uninstall.exe" /S && wineserver -w || fail "the silent uninstall failed"
  ! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry stayed"
  ! wine reg query "$event_key" >/dev/null 2>&1 || fail "the event source stayed registered"
  [ "$(work_state "$appdata")" = "$operator" ] || fail "the operator's files in $appdata changed"
  rm -r "$appdata"
  [ "$(drive_state)" = "$before" ] || { diff <(echo "$before") <(drive_state) >&2 || true; fail "the uninstaller left files"; }
}

# An upgrade or removal would skip the files the running program holds open.
running_case() {
  new_wineprefix
  local programs="$WINEPREFIX/drive_c/Program Files/Halcyon" before lnk
  lnk="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Halcyon压缩.lnk"
  wine "$WIN_SETUP" /S /NOSTARTUP && wineserver -w || fail "the silent install failed"
  [ -z "$(startup_lnk)" ] || fail "/NOSTARTUP made a shortcut in the Startup folder"
  # As if an older version were installed: an upgrade going through rewrites all of it.
  wine reg add "$key" /v DisplayVersion /d 0.9 /f >/dev/null 2>&1 || fail "cannot set DisplayVersion"
  find "$programs" "$lnk" -type f -exec touch -d 2001-01-01 {} +
  installed() { find "$programs" "$lnk" -printf '%p %s %T@\n' | LC_ALL=C sort; wine reg query "$key"; }
  # Only with _?= is the uninstaller's exit code its own (else a copy of it runs on), and
  # Wine would quote that path with its space: a batch file passes it as written.
  printf '@"C:\\Program Files\\Halcyon\\uninstall.exe" /S _?=C:\\Program Files\\Halcyon\r\n@exit /b %%errorlevel%%\r\n' >"$CASE_DIR/un.bat"
  start_wine "$CASE_DIR" 'C:\Program Files\Halcyon\halcyon.exe'
  before="$(installed)"
  ! wine "$WIN_SETUP" /S || fail "the silent install exits with 0 while the program runs"
  ! wine cmd /c "$(winepath -w "$CASE_DIR/un.bat")" || fail "the silent uninstall exits with 0 while the program runs"
  [ "$(installed)" = "$before" ] || { diff <(echo "$before") <(installed) >&2 || true; fail "the installed program changed while it ran"; }
  close_exits_zero
  wineserver -w
  wine "$WIN_SETUP" /S && wineserver -w || fail "the silent install failed after the program closed"
  wine reg query "$key" /v DisplayVersion | grep -qF "$win_version" || fail "the upgrade did not register $win_version"
  wine cmd /c "$(winepath -w "$CASE_DIR/un.bat")" && wineserver -w || fail "the silent uninstall failed after the program closed"
  # _?= leaves the uninstaller itself in place.
  [ "$(ls -A "$programs")" = uninstall.exe ] || fail "the uninstaller left $(ls -A "$programs" | tr '\n' ' ')"
}

start_xvfb
run_case install-uninstall install_case
run_case running-program running_case
finish

#!/usr/bin/env bash
# Runs a cross-built QtTest program under Wine; CTest's emulator in a build with
# cmake/mingw-w64-x86_64.cmake, so `ctest` in build-win64/ runs the suite's test programs.
#   wine-test.sh --prefix QTPREFIX --wineprefix DIR PROGRAM [ARGS...]
# The Qt, QuaZip and MinGW runtime DLLs come from QTPREFIX and the compiler through WINEPATH.
# WINEPREFIX, when set, wins over DIR (created on first use).
set -euo pipefail
[ "${1:-}" = --prefix ] && [ "${3:-}" = --wineprefix ] && [ $# -ge 5 ] ||
  { echo "usage: $0 --prefix QTPREFIX --wineprefix DIR PROGRAM [ARGS...]" >&2; exit 2; }
qtprefix="$2"
export WINEPREFIX="${WINEPREFIX:-$4}"
program="$5"
shift 5

export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs, no menu entries on the host.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

windows_path() { printf 'Z:%s' "${1//\//\\}"; }
path="$(windows_path "$qtprefix/bin")"
for dll in libstdc++-6.dll libwinpthread-1.dll; do
  path+=";$(windows_path "$(dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")")")")"
done
export WINEPATH="$path"

{
  flock 9
  [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i && wineserver -w; } >/dev/null 2>&1
  # Wine hands no QT_* variable of the host to Windows programs: the prefix's user
  # environment carries the platform instead.
  if [ -n "${QT_QPA_PLATFORM:-}" ] && [ "$(cat "$WINEPREFIX/.halcyon-qpa" 2>/dev/null)" != "$QT_QPA_PLATFORM" ]; then
    wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d "$QT_QPA_PLATFORM" /f >/dev/null 2>&1
    printf '%s' "$QT_QPA_PLATFORM" >"$WINEPREFIX/.halcyon-qpa"
  fi
} 9>"$WINEPREFIX.lock"

# Under Wine a QtTest program's log does not reach a pipe: it goes to a file, shown after.
log="$(mktemp --suffix=.txt)"
trap 'rm -f "$log"' EXIT
status=0
wine "$program" -o "$(windows_path "$log"),txt" "$@" || status=$?
cat "$log"
exit "$status"

#!/usr/bin/env bash
# Compiles the Windows resource script with MinGW's windres and checks what it holds:
# the icon group IDI_ICON1 and manifest 1 (asInvoker, longPathAware), both English (United
# States), nothing else, and an .ico with 32..128 px as 32-bit bitmaps plus 256 px as PNG.
# Usage: tools/check-windows-resources.sh [WINDRES [WORK_DIR]]
# Only binutils-mingw-w64 is needed: the host's gcc preprocesses the script.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
windres="${1:-x86_64-w64-mingw32-windres}"
work="${2:-$(mktemp -d)}"
rc="$root/app/windows/halcyon.rc"
ico="$root/app/windows/halcyon.ico"
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Little-endian unsigned integer of LEN bytes at OFFSET of FILE.
read_uint() {
  local file=$1 offset=$2 len=$3 value=0 shift=0 byte
  for byte in $(od -A n -t u1 -j "$offset" -N "$len" -v "$file"); do
    value=$((value + (byte << shift)))
    shift=$((shift + 8))
  done
  echo "$value"
}

compile_script() {
  mkdir -p "$work"
  "$windres" --preprocessor=gcc --preprocessor-arg=-E --preprocessor-arg=-xc \
    --preprocessor-arg=-DRC_INVOKED -i "$rc" -O res -o "$work/halcyon.res" &&
    "$windres" -J res -i "$work/halcyon.res" -O rc -o "$work/dump.rc"
}

check_resource_list() {
  local dump=$work/dump.rc types languages
  types=$(sed -n 's|^/\* Type: \(.*\)$|\1|p' "$dump" | tr '\n' ';')
  [ "$types" = "icon;group icon;24;" ] || fail "resource types are '$types', want icon, group icon and manifest only"
  languages=$(grep '^LANGUAGE' "$dump" | sort -u | tr '\n' ';')
  [ "$languages" = "LANGUAGE 9, 1;" ] || fail "languages are '$languages', want English (United States) only"
  grep -q '^"IDI_ICON1" 14 ' "$dump" || fail "no icon group named IDI_ICON1"
  grep -q '^1 24 ' "$dump" || fail "no manifest with id 1"
  [ "$(grep -c '^[0-9]* 3 ' "$dump")" -eq 8 ] || fail "icon group does not hold 8 images"
}

check_manifest() {
  local manifest=$root/app/windows/halcyon.manifest
  grep -q '<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' "$manifest" ||
    fail "manifest does not ask for asInvoker without uiAccess"
  # Long paths: Windows 10 1607 and later, with the system's LongPathsEnabled.
  grep -q '<ws2:longPathAware>true</ws2:longPathAware>' "$manifest" &&
    grep -q 'xmlns:ws2="http://schemas.microsoft.com/SMI/2016/WindowsSettings"' "$manifest" ||
    fail "manifest does not declare longPathAware"
  ! grep -q -i -E 'dpiAware|dpiAwareness|supportedOS|dependency|compatibility' "$manifest" ||
    fail "manifest declares more than the execution level and long paths"
}

# Checks the image that directory entry INDEX points at; leaves its size in pixels in entry_size.
check_ico_entry() {
  local index=$1 entry=$((6 + 16 * $1)) size bpp length offset
  size=$(read_uint "$ico" "$entry" 1)
  [ "$size" -eq 0 ] && size=256
  [ "$(read_uint "$ico" $((entry + 1)) 1)" -eq $((size % 256)) ] || fail "image $index is not square"
  bpp=$(read_uint "$ico" $((entry + 6)) 2)
  length=$(read_uint "$ico" $((entry + 8)) 4)
  offset=$(read_uint "$ico" $((entry + 12)) 4)
  [ "$bpp" -eq 32 ] || fail "$size px: $bpp bits per pixel in the directory, want 32"
  [ $((offset + length)) -le "$(stat -c %s "$ico")" ] || fail "$size px: image runs past the end of the file"
  if [ "$(od -A n -t x1 -j "$offset" -N 8 "$ico" | tr -d ' ')" = 89504e470d0a1a0a ]; then
    [ "$size" -eq 256 ] || fail "$size px is stored as PNG, want a bitmap"
    # IHDR: width at +16 (big-endian), bit depth at +24, colour type at +25.
    [ "$(od -A n -t u1 -j $((offset + 24)) -N 2 "$ico" | tr -s ' ')" = " 8 6" ] ||
      fail "256 px PNG is not 8-bit RGBA"
  else
    [ "$size" -ne 256 ] || fail "256 px is stored as a bitmap, want PNG"
    [ "$(read_uint "$ico" "$offset" 4)" -eq 40 ] || fail "$size px: no BITMAPINFOHEADER"
    [ "$(read_uint "$ico" $((offset + 4)) 4)" -eq "$size" ] || fail "$size px: bitmap width differs"
    [ "$(read_uint "$ico" $((offset + 14)) 2)" -eq 32 ] || fail "$size px: bitmap is not 32-bit"
  fi
  entry_size=$size
}

check_ico() {
  local count sizes="" i
  [ "$(read_uint "$ico" 0 2)" -eq 0 ] && [ "$(read_uint "$ico" 2 2)" -eq 1 ] || { fail "not an icon file"; return; }
  count=$(read_uint "$ico" 4 2)
  for ((i = 0; i < count; i++)); do
    check_ico_entry "$i"
    sizes+="$entry_size"$'\n'
  done
  sizes=$(printf '%s' "$sizes" | sort -n | tr '\n' ' ')
  [ "$sizes" = "32 48 64 72 80 96 128 256 " ] || fail "icon sizes are '$sizes'"
}

if compile_script; then
  check_resource_list
else
  fail "windres could not compile $rc"
fi
check_manifest
check_ico
if [ "$failures" -eq 0 ]; then
  echo "Windows resources OK"
  exit 0
fi
exit 1

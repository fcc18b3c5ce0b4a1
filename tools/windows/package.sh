#!/usr/bin/env bash
# Windows packages of the program, cross-built on Debian 12 with MinGW-w64, into dist/:
#   halcyon-<version>-win64.zip    a folder with halcyon.exe, the DLLs and plug-ins it loads
#   halcyon-<version>-setup.exe    an installer of the same files (per machine, /S silent)
# Builds the toolchain cache first when it is missing (tools/windows/toolchain.sh).
#   tools/windows/package.sh
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
. "$root/tools/ensure-deps.sh"
ensure_packages cmake make nsis python3 python3-pefile binutils-mingw-w64-x86-64

started=$SECONDS
log() { printf 'package: %s\n' "$*" >&2; }

prefix="$(bash "$here/toolchain.sh" | tail -n 1)"
log "toolchain ready in $((SECONDS - started)) s: $prefix"

t=$SECONDS
build="$root/build-win64"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DHALCYON_MINGW_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
# Only the program: the packages do not wait for the test programs.
cmake --build "$build" -j2 --target halcyon
exe="$build/app/halcyon.exe"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || { log "no project version in $build/CMakeCache.txt"; exit 1; }
log "cross build done in $((SECONDS - t)) s"

t=$SECONDS
dist="$root/dist"
name="halcyon-$version-win64"
stage="$dist/.stage/$name"
rm -rf "$dist/.stage"
mkdir -p "$stage/platforms" "$stage/imageformats" "$stage/styles"

# Loaded by Qt at run time, so no import table names them; Qt looks beside the program.
plugins=(platforms/qwindows.dll imageformats/qjpeg.dll styles/qwindowsvistastyle.dll)
cp "$exe" "$stage/"
for plugin in "${plugins[@]}"; do cp "$prefix/plugins/$plugin" "$stage/$plugin"; done

runtime_dirs=()
for dll in libstdc++-6.dll libwinpthread-1.dll; do
  runtime_dirs+=(--search "$(dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")")")")
done
mapfile -t dlls < <(/usr/bin/python3 "$here/pedeps.py" --system "$here/system-dlls.txt" \
  --search "$prefix/bin" "${runtime_dirs[@]}" "$stage/halcyon.exe" "${plugins[@]/#/$stage/}")
[ ${#dlls[@]} -gt 0 ] || { log "no DLL found for the program"; exit 1; }
cp "${dlls[@]}" "$stage/"
# Debian's MinGW runtime DLLs carry their debugging symbols (libstdc++ 23 MB, 1.9 MB without).
find "$stage" -type f -name '*.dll' -o -type f -name '*.exe' | xargs x86_64-w64-mingw32-strip --strip-all

zip="$dist/$name.zip"
rm -f "$zip"
/usr/bin/python3 - "$dist/.stage" "$name" "$zip" <<'EOF'
import os, sys, zipfile
base, name, out = sys.argv[1:]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for directory, subdirs, files in os.walk(os.path.join(base, name)):
        subdirs.sort()
        for f in sorted(files):
            path = os.path.join(directory, f)
            z.write(path, os.path.relpath(path, base))
EOF
log "zip written in $((SECONDS - t)) s"

# The installer's file list, and the uninstaller's, from the same folder.
t=$SECONDS
files="$dist/.stage/files.nsh"
unfiles="$dist/.stage/unfiles.nsh"
: >"$files"
: >"$unfiles"
while IFS= read -r dir; do
  sub="${dir#"$stage"}"
  sub="${sub#/}"
  target='$INSTDIR'${sub:+\\${sub//\//\\}}
  printf 'SetOutPath "%s"\n' "$target" >>"$files"
  while IFS= read -r file; do
    printf 'File "%s"\n' "$file" >>"$files"
    printf 'Delete "%s\\%s"\n' "$target" "$(basename "$file")" >>"$unfiles"
  done < <(find "$dir" -maxdepth 1 -type f | LC_ALL=C sort)
  [ -z "$sub" ] || printf 'RMDir "%s"\n' "$target" >>"$unfiles"
done < <(find "$stage" -type d | LC_ALL=C sort)
printf 'SetOutPath "$INSTDIR"\n' >>"$files"

setup="$dist/halcyon-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DFILES="$files" -DUNFILES="$unfiles" \
  -DICON="$root/app/windows/halcyon.ico" -DOUTFILE="$setup" \
  -DSIZE_KB="$(du -sk "$stage" | cut -f1)" "$here/halcyon.nsi"
log "installer written in $((SECONDS - t)) s"

log "done in $((SECONDS - started)) s:"
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | sed 's/^/  /') >&2
ls -l "$zip" "$setup" >&2

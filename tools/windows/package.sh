#!/usr/bin/env bash
# Windows packages of the program, cross-built on Debian 12 with MinGW-w64, into dist/:
#   halcyon-<version>-win64.zip    a folder with halcyon.exe, the DLLs and plug-ins it loads
#   halcyon-<version>-setup.exe    an installer of the same files (per machine, /S silent)
#   halcyon-<version>-win64-sources.tar  the exact source of the libraries those ship
# Both carry licenses/ and THIRD-PARTY-NOTICES.txt, which names that sources file.
# Builds the toolchain caches first when they are missing (tools/windows/toolchain.sh and
# tools/windows/libdeflate.sh).
#   tools/windows/package.sh
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
. "$root/tools/ensure-deps.sh"
ensure_packages cmake make nsis python3 python3-pefile binutils-mingw-w64-x86-64

started=$SECONDS
log() { printf 'package: %s\n' "$*" >&2; }

prefix="$(bash "$here/toolchain.sh" | tail -n 1)"
deflate_prefix="$(bash "$here/libdeflate.sh" | tail -n 1)"
log "toolchain ready in $((SECONDS - started)) s: $prefix, $deflate_prefix"

t=$SECONDS
build="$root/build-win64"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DHALCYON_MINGW_PREFIX="$prefix" -DHALCYON_LIBDEFLATE_PREFIX="$deflate_prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
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
# For schtasks /XML: UTF-16 with a byte-order mark and CRLF line ends, as Task Scheduler
# itself exports a task.
for task in halcyon-task.xml halcyon-verify-task.xml; do
  { printf '\xff\xfe'; sed -e 's/encoding="UTF-8"/encoding="UTF-16"/' -e 's/$/\r/' "$root/app/windows/$task" |
      iconv -f UTF-8 -t UTF-16LE; } >"$stage/$task"
done
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

# --- licences, notices and sources ------------------------------------------------------
# Every licence text is a file the code came with: the caches' share/licenses for what
# toolchain.sh and libdeflate.sh built, and for the MinGW runtime the copyright file of the
# Debian package that ships the DLL. Named .txt so that Windows opens them.
lic="$stage/licenses"
sources_tar="halcyon-$version-win64-sources.tar"
mkdir -p "$lic/halcyon"
cp "$root/LICENSE" "$lic/halcyon/LICENSE.txt"
for entry in "$prefix qtbase" "$prefix quazip" "$prefix zlib" "$deflate_prefix libdeflate"; do
  read -r cache library <<<"$entry"
  [ -d "$cache/share/licenses/$library" ] || { log "no $cache/share/licenses/$library: rebuild the cache"; exit 1; }
  mkdir -p "$lic/$library"
  for f in "$cache/share/licenses/$library"/*; do cp "$f" "$lic/$library/$(basename "$f").txt"; done
done

# "<source package> <version>" of each source that toolchain.sh and libdeflate.sh built, as
# they recorded them.
built_version() {
  local v record="${2:-$prefix/halcyon-toolchain.txt}"
  v="$(awk -v p="$1" '$1 == p { print $2 }' "$record")"
  [ -n "$v" ] || { log "no $1 in $record"; exit 1; }
  echo "$v"
}
# 1:1.2.13.dfsg-1 -> 1.2.13, 5.15.8+dfsg-11+deb12u3 -> 5.15.8
upstream() { local v="${1#*:}"; v="${v%%[+~-]*}"; echo "${v%.dfsg}"; }
package_of() { dpkg -S "$(realpath "$1")" | head -n 1 | cut -d: -f1; }
deb_version() { dpkg-query -W -f='${Version}' "$1"; }

# The MinGW runtime: folder in licenses/ and the DLL that names its Debian package. The
# packaging stops on a shipped DLL of any other package, which would go without notice.
declare -A runtime_package runtime_dlls
for entry in "gcc-runtime libstdc++-6.dll" "winpthreads libwinpthread-1.dll"; do
  read -r folder probe <<<"$entry"
  runtime_package[$folder]="$(package_of "$(x86_64-w64-mingw32-g++-posix -print-file-name="$probe")")"
  mkdir -p "$lic/$folder"
  cp "/usr/share/doc/${runtime_package[$folder]}/copyright" "$lic/$folder/copyright.txt"
done
# GCC's copyright file carries the runtime library exception but points at the GPL's text.
cp /usr/share/common-licenses/GPL-3 "$lic/gcc-runtime/GPL-3.txt"
qt_files=()
for dll in "${dlls[@]}"; do
  case "$dll" in "$prefix"/*) qt_files+=("$(basename "$dll")"); continue ;; esac
  package="$(package_of "$dll")" known=""
  for folder in "${!runtime_package[@]}"; do
    if [ "${runtime_package[$folder]}" = "$package" ]; then
      runtime_dlls[$folder]+="${runtime_dlls[$folder]:+, }$(basename "$dll")"
      known=1
    fi
  done
  [ -n "$known" ] || { log "$(basename "$dll") comes from $package, which has no notice: add it in package.sh"; exit 1; }
done
qt_files+=("${plugins[@]}")

gcc_package="${runtime_package[gcc-runtime]}" pthread_package="${runtime_package[winpthreads]}"
gcc_source="$(dpkg-query -W -f='${source:Package} ${source:Version}' "$gcc_package")"
pthread_source="$(dpkg-query -W -f='${source:Package} ${source:Version}' "$pthread_package")"
qt_built="$(built_version qtbase-opensource-src)"
quazip_built="$(built_version libquazip1-qt5)"
zlib_built="$(built_version zlib)"
libdeflate_built="$(built_version libdeflate "$deflate_prefix/halcyon-libdeflate.txt")"
# How to fetch a Debian source package of a given version: apt-get, or the snapshot archive.
source_lines() {
  printf '            apt-get source %s=%s\n            https://snapshot.debian.org/package/%s/%s/\n' "$1" "$2" "$1" "$2"
}
notices="$stage/THIRD-PARTY-NOTICES.txt"
cat >"$notices" <<EOF
Halcyon $version for 64-bit Windows: third-party notices

Halcyon itself is under the MIT licence: licenses/halcyon/LICENSE.txt.
It ships with the libraries below, each under its own licence; their licence
texts are in the licenses folder beside this file. The exact source of Qt,
QuaZip, zlib and libdeflate as they were built for it (Debian's source packages),
with the scripts and the patch that built them, is in the file

    $sources_tar

published beside halcyon-$version-win64.zip and halcyon-$version-setup.exe.


Qt $(upstream "$qt_built") (qtbase)
  Version:  Debian source package qtbase-opensource-src $qt_built
  Files:    $(echo "${qt_files[*]}" | sed 's/ /, /g')
  Licence:  GNU Lesser General Public License version 3
            (licenses/qtbase/LICENSE.LGPL3.txt), which adds to the GNU General
            Public License version 3 (licenses/qtbase/LICENSE.GPL3.txt); copyright
            holders and the code Qt bundles: licenses/qtbase/copyright.txt
  Changes:  none to Debian's source (Debian's own patches are in its debian
            tarball); built with the configure options in tools/windows/toolchain.sh
            and linked dynamically, so the Qt DLLs can be replaced by another build of
            the same Qt version.
  Source:   $sources_tar: debian-sources/qtbase-opensource-src_*

QuaZip $(upstream "$quazip_built")
  Version:  Debian source package libquazip1-qt5 $quazip_built
  Files:    none of its own: linked statically into halcyon.exe
  Licence:  GNU Lesser General Public License version 2.1 with a static linking
            exception (licenses/quazip/COPYING.txt; copyright holders:
            licenses/quazip/copyright.txt)
  Changes:  besides Debian's patches, one change to its build file,
            tools/windows/quazip-no-network.patch: it no longer looks for Qt's
            Network module, which only its own tests use. Built as a static
            library, without bzip2.
  Source:   $sources_tar: debian-sources/libquazip1-qt5_* and
            tools/windows/quazip-no-network.patch

zlib $(upstream "$zlib_built")
  Version:  Debian source package zlib $zlib_built
  Files:    none of its own: linked statically into Qt5Core.dll and halcyon.exe
  Licence:  the zlib licence (the end of licenses/zlib/README.txt;
            licenses/zlib/copyright.txt)
  Changes:  none to Debian's source; built as a static library
  Source:   $sources_tar: debian-sources/zlib_*

libdeflate $(upstream "$libdeflate_built")
  Version:  Debian source package libdeflate $libdeflate_built
  Files:    none of its own: linked statically into halcyon.exe
  Licence:  MIT (licenses/libdeflate/COPYING.txt; copyright holders:
            licenses/libdeflate/copyright.txt)
  Changes:  none to Debian's source; built as a static library with its own
            Makefile (tools/windows/libdeflate.sh)
  Source:   $sources_tar: debian-sources/libdeflate_*

GCC $(upstream "$(deb_version "$gcc_package")") runtime (libstdc++, libgcc)
  Version:  Debian package $gcc_package $(deb_version "$gcc_package")
  Files:    ${runtime_dlls[gcc-runtime]}
  Licence:  GNU General Public License version 3 (licenses/gcc-runtime/GPL-3.txt)
            with the GCC Runtime Library Exception version 3.1 (in
            licenses/gcc-runtime/copyright.txt)
  Changes:  none; debugging symbols stripped
  Source:   Debian source package ${gcc_source% *} ${gcc_source#* }:
$(source_lines ${gcc_source})

winpthreads (mingw-w64 $(upstream "$(deb_version "$pthread_package")"))
  Version:  Debian package $pthread_package $(deb_version "$pthread_package")
  Files:    ${runtime_dlls[winpthreads]}
  Licence:  MIT (expat) and BSD-style notices: licenses/winpthreads/copyright.txt,
            the paragraphs "Files: mingw-w64-libraries/winpthreads/..."
  Changes:  none; debugging symbols stripped
  Source:   Debian source package ${pthread_source% *} ${pthread_source#* }:
$(source_lines ${pthread_source})
EOF

# The source packages as toolchain.sh downloaded them, and how it built them.
tar_dir="halcyon-$version-win64-sources"
tar_root="$dist/.stage/sources/$tar_dir"
mkdir -p "$tar_root/debian-sources" "$tar_root/tools/windows" "$tar_root/cmake"
cp "$prefix/share/sources/"* "$deflate_prefix/share/sources/"* "$tar_root/debian-sources/"
cp "$here/toolchain.sh" "$here/libdeflate.sh" "$here/deb-src.sh" "$here/quazip-no-network.patch" "$tar_root/tools/windows/"
cp "$root/cmake/mingw-w64-x86_64.cmake" "$tar_root/cmake/"
cp "$notices" "$tar_root/"
rm -f "$dist/$sources_tar"
tar -C "$dist/.stage/sources" --sort=name --owner=0 --group=0 --numeric-owner -cf "$dist/$sources_tar" "$tar_dir"

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
rmdirs=""
while IFS= read -r dir; do
  sub="${dir#"$stage"}"
  sub="${sub#/}"
  target='$INSTDIR'${sub:+\\${sub//\//\\}}
  printf 'SetOutPath "%s"\n' "$target" >>"$files"
  while IFS= read -r file; do
    printf 'File "%s"\n' "$file" >>"$files"
    printf 'Delete "%s\\%s"\n' "$target" "$(basename "$file")" >>"$unfiles"
  done < <(find "$dir" -maxdepth 1 -type f | LC_ALL=C sort)
  # Folders last and deepest first (licenses\zlib before licenses): RMDir removes only
  # empty ones.
  [ -z "$sub" ] || rmdirs="RMDir \"$target\""$'\n'"$rmdirs"
done < <(find "$stage" -type d | LC_ALL=C sort)
printf 'SetOutPath "$INSTDIR"\n' >>"$files"
printf '%s' "$rmdirs" >>"$unfiles"

# The licence page: the program's own licence, and where the others are.
license_page="$dist/.stage/license.txt"
{
  cat "$root/LICENSE"
  printf '\n%s\n%s\n%s\n' "Halcyon ships with Qt, QuaZip, zlib, libdeflate and the MinGW-w64 runtime, each" \
    "under its own licence: THIRD-PARTY-NOTICES.txt and the licenses folder in the installation" \
    "folder name them. Their source: $sources_tar, published beside this installer."
} | sed 's/$/\r/' >"$license_page"

setup="$dist/halcyon-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DFILES="$files" -DUNFILES="$unfiles" -DLICENSE_PAGE="$license_page" \
  -DICON="$root/app/windows/halcyon.ico" -DOUTFILE="$setup" \
  -DSIZE_KB="$(du -sk "$stage" | cut -f1)" "$here/halcyon.nsi"
log "installer written in $((SECONDS - t)) s"

log "done in $((SECONDS - started)) s:"
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | sed 's/^/  /') >&2
ls -l "$zip" "$setup" "$dist/$sources_tar" >&2

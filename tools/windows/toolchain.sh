#!/usr/bin/env bash
# Builds zlib, qtbase and QuaZip for 64-bit Windows with MinGW-w64 from Debian's source
# packages into a cache outside the checkout, once; does nothing when that cache is complete.
# The cache keeps the exact source packages (share/sources/) and the licence texts
# (share/licenses/) that the Windows packages hand on with the binaries.
#   tools/windows/toolchain.sh                 build if missing; prints the cache's prefix
#   tools/windows/toolchain.sh --print-prefix  only prints where the prefix is (or would be)
# HALCYON_MINGW_CACHE: directory of the caches (default /var/cache/halcyon-mingw). Each
# cache is named after the versions that went into it. It is built beside its final place
# and renamed into place only when complete, so a broken build never looks complete.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"

QT_VERSION=5.15.8
QUAZIP_VERSION=1.4
ZLIB_VERSION=1.2.13
# Raise when the way the cache is built changes, so that old caches are not taken.
RECIPE=2

TOOLCHAIN_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                    mingw-w64-x86-64-dev cmake make g++ perl python3 dpkg-dev xz-utils bzip2 util-linux patch)

cache_root="${HALCYON_MINGW_CACHE:-/var/cache/halcyon-mingw}"

log() { printf 'toolchain: %s\n' "$*" >&2; }
die() { log "$*"; exit 1; }

cache_key() {
  local gcc
  gcc="$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix 2>/dev/null)" ||
    die "g++-mingw-w64-x86-64-posix is not installed: run tools/windows/toolchain.sh"
  gcc="${gcc%%-*}"
  echo "qt${QT_VERSION}-quazip${QUAZIP_VERSION}-zlib${ZLIB_VERSION}-mingw-gcc${gcc}-posix-r${RECIPE}"
}

if [ "${1:-}" = "--print-prefix" ]; then
  echo "$cache_root/$(cache_key)"
  exit 0
fi
[ $# -eq 0 ] || die "usage: $0 [--print-prefix]"

. "$root/tools/ensure-deps.sh"
. "$here/deb-src.sh"
ensure_packages "${TOOLCHAIN_PACKAGES[@]}"

key="$(cache_key)"
prefix="$cache_root/$key"
complete() { [ -f "$prefix/halcyon-toolchain.txt" ]; }
if complete; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache_root" || die "cannot create $cache_root (set HALCYON_MINGW_CACHE to a writable directory)"
exec 9>"$cache_root/.lock"
flock -n 9 || { log "waiting for another build of $cache_root to end"; flock 9; }
if complete; then
  echo "$prefix"
  exit 0
fi

started=$SECONDS
work="$cache_root/.build-$key"
rm -rf "$work"
mkdir -p "$work/logs" "$work/bin" "$work/src"
stage="$work/root$prefix"
mkdir -p "$stage/include" "$stage/lib" "$stage/share/sources" "$stage/share/licenses"

# step NAME COMMAND...: runs COMMAND with its output in a log; shows the log's end on failure.
step() {
  local name="$1" t=$SECONDS
  shift
  log "$name ..."
  # In the background, not under "if": there errexit would be ignored inside COMMAND.
  ("$@") >"$work/logs/$name.log" 2>&1 &
  if ! wait $!; then
    tail -n 40 "$work/logs/$name.log" >&2
    die "$name failed; full log: $work/logs/$name.log"
  fi
  log "$name done in $((SECONDS - t)) s"
}

# --- sources ---------------------------------------------------------------------------

# fetch PACKAGE UPSTREAM DIR: unpacks the newest downloadable Debian source of that upstream
# version into DIR (a mirror may list a version whose files it lacks).
fetch() {
  local package="$1" upstream="$2" dir="$3" version
  for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -urV); do
    case "${version#*:}" in "$upstream"[.+~-]*) ;; *) continue ;; esac
    if (cd "$work/src" && apt-get source --download-only -o APT::Sandbox::User=root "$package=$version"); then
      dpkg-source --no-copy -x "$work/src/${package}_${version#*:}.dsc" "$dir"
      echo "$package $version" >>"$work/sources.txt"
      return 0
    fi
  done
  echo "no downloadable source of $package $upstream" >&2
  return 1
}

step deb-src ensure_deb_src
step fetch-zlib fetch zlib "$ZLIB_VERSION" "$work/src/zlib"
step fetch-qtbase fetch qtbase-opensource-src "$QT_VERSION" "$work/src/qtbase"
step fetch-quazip fetch libquazip1-qt5 "$QUAZIP_VERSION" "$work/src/quazip"
# Kept as downloaded (.dsc, orig and debian tarballs): the LGPL asks that whoever gets the
# binaries can get their source from the same place.
find "$work/src" -maxdepth 1 -type f -exec cp {} "$stage/share/sources/" \;

# --- zlib: static, linked into Qt5Core and QuaZip --------------------------------------

# zlib and QuaZip need no libdeflate: naming the stage for it too keeps the toolchain file
# from asking for libdeflate.sh's cache, which may not be built yet.
cross_cmake=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DHALCYON_MINGW_PREFIX="$stage"
             -DHALCYON_LIBDEFLATE_PREFIX="$stage" -DCMAKE_BUILD_TYPE=Release)

build_zlib() {
  cmake -S "$work/src/zlib" -B "$work/zlib" "${cross_cmake[@]}"
  # The shared target needs win32/, which Debian's source leaves out.
  cmake --build "$work/zlib" -j2 --target zlibstatic
  cp "$work/src/zlib/zlib.h" "$work/zlib/zconf.h" "$stage/include/"
  cp "$work/zlib/libzlibstatic.a" "$stage/lib/libz.a"
  mkdir -p "$stage/share/licenses/zlib"
  # zlib's notice is the licence section of its README.
  cp "$work/src/zlib/debian/copyright" "$work/src/zlib/README" "$stage/share/licenses/zlib/"
}
step zlib build_zlib

# --- qtbase: Core, Gui, Widgets, Test, WinMain and the plug-ins the program loads -------

# qmake's win32-g++ platform files call $CROSS_COMPILE-gcc/g++: point those at the posix compilers.
for tool in gcc g++ c++; do
  ln -s "/usr/bin/x86_64-w64-mingw32-$tool-posix" "$work/bin/x86_64-w64-mingw32-$tool"
done
export PATH="$work/bin:$PATH"

qt_configure_options=(
  -prefix "$prefix" -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32-
  -release -shared -opensource -confirm-license -nomake examples -nomake tests
  -no-opengl -no-dbus -no-icu -no-openssl -no-fontconfig
  -system-zlib -qt-libjpeg -qt-libpng -qt-pcre -qt-harfbuzz -qt-freetype
  -no-sql-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql
  # Debian's source lacks the wintab headers that tablet events need.
  -no-feature-tabletevent
  -I "$stage/include" -L "$stage/lib"
)

# make targets in the source tree's src/ and plug-in directories: NAME-make_first builds
# with dependencies, NAME-install_subtargets installs what was built.
qt_src_targets=(sub-widgets sub-testlib sub-winmain sub-platformsupport sub-3rdparty-libjpeg)
qt_plugin_targets=(
  "platforms sub-windows sub-offscreen sub-minimal"
  "imageformats sub-jpeg"
  "styles sub-windowsvista"
)

qt_make() {
  local suffix="$1" entry dir targets
  make -C "$work/qtbase/src" -j2 "${qt_src_targets[@]/%/-$suffix}" INSTALL_ROOT="$work/root"
  for entry in "${qt_plugin_targets[@]}"; do
    read -r dir targets <<<"$entry"
    # shellcheck disable=SC2086
    make -C "$work/qtbase/src/plugins/$dir" -j2 $(printf "%s-$suffix " $targets) INSTALL_ROOT="$work/root"
  done
}

qt_configure() {
  mkdir -p "$work/qtbase"
  (cd "$work/qtbase" && "$work/src/qtbase/configure" "${qt_configure_options[@]}")
  # Writes every Makefile below src/ without building anything.
  make -C "$work/qtbase" sub-src-qmake_all
}
qt_install() {
  qt_make install_subtargets
  # qmake, its specs and syncqt, for whoever wants qmake; CMake needs the specs.
  make -C "$work/qtbase" -j2 sub-qmake-qmake-aux-pro-install_subtargets install_mkspecs install_syncqt \
    INSTALL_ROOT="$work/root"
  mkdir -p "$stage/share/licenses/qtbase"
  cp "$work/src/qtbase/debian/copyright" "$work/src/qtbase/LICENSE.LGPL3" "$work/src/qtbase/LICENSE.GPL3" \
    "$work/src/qtbase/LICENSE.GPL3-EXCEPT" "$stage/share/licenses/qtbase/"
}
step qtbase-configure qt_configure
step qtbase-build qt_make make_first
step qtbase-install qt_install

# --- QuaZip: static, without bzip2 (its CMake would fetch that from the internet) ------
# Static, because the engine writes raw Deflate through minizip's zip functions, which the
# DLL does not export; QuaZip's licence carries a static linking exception.

build_quazip() {
  # Qt5Config.cmake makes every component required once the package is, optional ones too,
  # and this Qt has no Network module; only QuaZip's own tests would use it.
  patch -d "$work/src/quazip" -p1 <"$here/quazip-no-network.patch"
  cmake -S "$work/src/quazip" -B "$work/quazip" "${cross_cmake[@]}" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_PREFIX_PATH="$stage" -DQUAZIP_QT_MAJOR_VERSION=5 -DBUILD_SHARED_LIBS=OFF \
    -DQUAZIP_BZIP2=OFF -DQUAZIP_FETCH_LIBS=OFF -DQUAZIP_ENABLE_TESTS=OFF
  cmake --build "$work/quazip" -j2
  DESTDIR="$work/root" cmake --install "$work/quazip" --strip
  mkdir -p "$stage/share/licenses/quazip"
  cp "$work/src/quazip/debian/copyright" "$work/src/quazip/COPYING" "$stage/share/licenses/quazip/"
}
step quazip build_quazip

# --- into place ------------------------------------------------------------------------

{
  echo "key $key"
  cat "$work/sources.txt"
  echo "patch quazip $(basename "$here/quazip-no-network.patch")"
  echo "compiler $(dpkg-query -W -f='${Package} ${Version}' g++-mingw-w64-x86-64-posix)"
  echo "qt-configure ${qt_configure_options[*]}"
  echo "built $(date -u +%Y-%m-%dT%H:%M:%SZ) in $((SECONDS - started)) s"
} >"$stage/halcyon-toolchain.txt.part"
rm -rf "$prefix"
mv "$stage/halcyon-toolchain.txt.part" "$stage/halcyon-toolchain.txt"
mv "$stage" "$prefix"
rm -rf "$work"
log "complete in $((SECONDS - started)) s: $prefix"
echo "$prefix"

#!/usr/bin/env bash
# Builds libdeflate for 64-bit Windows with MinGW-w64 as a static library, from Debian's
# source package of the version that Debian's libdeflate-dev has (the Linux build's), with
# libdeflate's own Makefile, unchanged. A cache of its own beside toolchain.sh's, built in
# seconds; it keeps the source package (share/sources/) and the licence texts
# (share/licenses/) that the Windows packages hand on with the binaries.
#   tools/windows/libdeflate.sh                 build if missing; prints the cache's prefix
#   tools/windows/libdeflate.sh --print-prefix  only prints where the prefix is (or would be)
# HALCYON_MINGW_CACHE: directory of the caches (default /var/cache/halcyon-mingw). The cache
# is built beside its final place and renamed into place only when complete.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"

# Raise when the way the cache is built changes, so that old caches are not taken.
RECIPE=1
CC=x86_64-w64-mingw32-gcc-posix

cache_root="${HALCYON_MINGW_CACHE:-/var/cache/halcyon-mingw}"

log() { printf 'libdeflate: %s\n' "$*" >&2; }
die() { log "$*"; exit 1; }

installed() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null; }

# libdeflate1.14-1-mingw-gcc12.2.0-posix-r1: Debian's version, whose source is built.
cache_key() {
  local version gcc
  version="$(installed libdeflate-dev)" || die "libdeflate-dev is not installed: run tools/windows/libdeflate.sh"
  gcc="$(installed gcc-mingw-w64-x86-64-posix)" ||
    die "gcc-mingw-w64-x86-64-posix is not installed: run tools/windows/libdeflate.sh"
  echo "libdeflate${version#*:}-mingw-gcc${gcc%%-*}-posix-r${RECIPE}"
}

if [ "${1:-}" = "--print-prefix" ]; then
  echo "$cache_root/$(cache_key)"
  exit 0
fi
[ $# -eq 0 ] || die "usage: $0 [--print-prefix]"

. "$root/tools/ensure-deps.sh"
. "$here/deb-src.sh"
ensure_packages libdeflate-dev gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 make dpkg-dev util-linux

key="$(cache_key)"
prefix="$cache_root/$key"
complete() { [ -f "$prefix/halcyon-libdeflate.txt" ]; }
if complete; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache_root" || die "cannot create $cache_root (set HALCYON_MINGW_CACHE to a writable directory)"
# A lock of its own: a build of toolchain.sh's cache may hold the other for most of an hour.
exec 9>"$cache_root/.lock-libdeflate"
flock -n 9 || { log "waiting for another build of libdeflate to end"; flock 9; }
if complete; then
  echo "$prefix"
  exit 0
fi

started=$SECONDS
version="$(installed libdeflate-dev)"
work="$cache_root/.build-$key"
rm -rf "$work"
mkdir -p "$work/src"
stage="$work/root$prefix"
mkdir -p "$stage/include" "$stage/lib" "$stage/share/sources" "$stage/share/licenses/libdeflate"

ensure_deb_src
apt-cache showsrc libdeflate 2>/dev/null | grep -qx "Version: $version" ||
  die "apt knows no source package libdeflate $version"
log "fetching the source of libdeflate $version ..."
(cd "$work/src" && apt-get source --download-only -o APT::Sandbox::User=root "libdeflate=$version") \
  >"$work/fetch.log" 2>&1 || { cat "$work/fetch.log" >&2; die "apt-get source libdeflate=$version failed"; }
dpkg-source --no-copy -x "$work/src/libdeflate_${version#*:}.dsc" "$work/src/libdeflate" >>"$work/fetch.log" 2>&1 ||
  { cat "$work/fetch.log" >&2; die "dpkg-source could not unpack libdeflate $version"; }
# Kept as downloaded (.dsc, orig and debian tarballs), to hand on beside the binaries.
find "$work/src" -maxdepth 1 -type f -exec cp {} "$stage/share/sources/" \;

# Its Makefile derives ar from a compiler name ending in gcc, which the posix one does not.
make_options=(CC="$CC" AR=x86_64-w64-mingw32-ar libdeflatestatic.lib)
log "building: make ${make_options[*]} ..."
make -C "$work/src/libdeflate" -j2 "${make_options[@]}" >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; die "the build failed; full log: $work/build.log"; }
cp "$work/src/libdeflate/libdeflate.h" "$stage/include/"
cp "$work/src/libdeflate/libdeflatestatic.lib" "$stage/lib/libdeflate.a"
cp "$work/src/libdeflate/COPYING" "$work/src/libdeflate/debian/copyright" "$stage/share/licenses/libdeflate/"

{
  echo "key $key"
  echo "libdeflate $version"
  echo "compiler $(dpkg-query -W -f='${Package} ${Version}' gcc-mingw-w64-x86-64-posix)"
  echo "make ${make_options[*]}"
  echo "built $(date -u +%Y-%m-%dT%H:%M:%SZ) in $((SECONDS - started)) s"
} >"$stage/halcyon-libdeflate.txt.part"
rm -rf "$prefix"
mv "$stage/halcyon-libdeflate.txt.part" "$stage/halcyon-libdeflate.txt"
mv "$stage" "$prefix"
rm -rf "$work"
log "complete in $((SECONDS - started)) s: $prefix"
echo "$prefix"

#!/usr/bin/env bash
# Builds the Debian package with cpack into a scratch directory and checks what it
# would put on a machine: files, modes, control fields and Depends. Installs nothing.
#   package-contents.sh CPACK CPACK_CONFIG VERSION
set -uo pipefail
cpack="$1" config="$2" version="$3"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! "$cpack" --config "$config" -B "$tmp/out" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log"
  echo "FAIL: cpack did not make the package"
  exit 1
fi
shopt -s nullglob
debs=("$tmp"/out/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "FAIL: expected one .deb, found ${#debs[@]}: ${debs[*]}"
  exit 1
fi
deb="${debs[0]}"
arch="$(dpkg --print-architecture)"
[ "$(basename "$deb")" = "halcyon_${version}_${arch}.deb" ] \
  || fail "file name $(basename "$deb"), expected halcyon_${version}_${arch}.deb"

# mode owner size date time path
dpkg-deb -c "$deb" >"$tmp/list" || { echo "FAIL: dpkg-deb -c"; exit 1; }
entry() { awk -v p="./$1" '$6 == p { print $1, $2 }' "$tmp/list"; }
expect_entry() {
  local got; got="$(entry "$1")"
  [ "$got" = "$2" ] || fail "$1: '${got:-missing}', expected '$2'"
}
expect_entry usr/bin/halcyon "-rwxr-xr-x root/root"
expect_entry usr/share/applications/halcyon.desktop "-rw-r--r-- root/root"
expect_entry usr/share/doc/halcyon/copyright "-rw-r--r-- root/root"
expect_entry usr/share/doc/halcyon/changelog.gz "-rw-r--r-- root/root"
expect_entry usr/share/man/man1/halcyon.1.gz "-rw-r--r-- root/root"
expect_entry usr/share/doc/halcyon/examples/halcyon-run.service "-rw-r--r-- root/root"
expect_entry usr/share/doc/halcyon/examples/halcyon-run.timer "-rw-r--r-- root/root"
expect_entry usr/share/doc/halcyon/examples/halcyon-verify.service "-rw-r--r-- root/root"
expect_entry usr/share/doc/halcyon/examples/halcyon-verify.timer "-rw-r--r-- root/root"
for size in 16 32 48 64 128 256; do
  expect_entry "usr/share/icons/hicolor/${size}x${size}/apps/halcyon.png" "-rw-r--r-- root/root"
done
# Everything belongs to the distribution's tree: no /usr/local, nothing of the build host.
awk '$6 !~ /^\.\/usr\// && $6 != "./" || $6 ~ /^\.\/usr\/local\// { print $6 }' "$tmp/list" >"$tmp/stray"
[ -s "$tmp/stray" ] && fail "entries outside /usr: $(tr '\n' ' ' <"$tmp/stray")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = halcyon ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), expected $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture), expected $arch"
[ "$(field Section)" = utils ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"

depends="$(field Depends)"
echo "Depends: $depends"
# Package names alone: alternatives and version constraints dropped.
names=" $(printf '%s' "$depends" | tr ',|' '\n\n' | sed -e 's/(.*)//' -e 's/\[.*\]//' -e 's/:any//' | tr -s ' \n' '  ') "
for p in libqt5widgets5 libqt5gui5 libqt5core5a libquazip1-qt5-1 libdeflate0 fonts-wqy-microhei libc6 libstdc++6; do
  [[ "$names" == *" $p "* ]] || fail "Depends lacks $p"
done

# The menu entry must start the packaged binary and name the packaged icon.
mkdir "$tmp/root"
dpkg-deb -x "$deb" "$tmp/root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
desktop="$tmp/root/usr/share/applications/halcyon.desktop"
if [ -f "$desktop" ]; then
  exec_cmd="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" | head -n1)"
  icon="$(sed -n 's/^Icon=//p' "$desktop" | head -n1)"
  [ -x "$tmp/root/usr/bin/$exec_cmd" ] || fail "desktop entry runs '$exec_cmd', not in usr/bin"
  [ -f "$tmp/root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "desktop entry names icon '$icon', not packaged"
fi
# A build-tree run path would load libraries from wherever the package was built.
if command -v readelf >/dev/null && [ -f "$tmp/root/usr/bin/halcyon" ]; then
  runpath="$(readelf -d "$tmp/root/usr/bin/halcyon" | grep -E 'RPATH|RUNPATH')"
  [ -z "$runpath" ] || fail "packaged binary keeps a run path: $runpath"
fi

# The example units as systemd reads them, started on the packaged binary: any complaint fails.
examples="$tmp/root/usr/share/doc/halcyon/examples"
mkdir "$tmp/units"
for unit in halcyon-run halcyon-verify; do
  sed "s|/usr/bin/halcyon|$tmp/root/usr/bin/halcyon|" "$examples/$unit.service" >"$tmp/units/$unit.service"
  cp "$examples/$unit.timer" "$tmp/units/"
done
if verify="$(systemd-analyze verify "$tmp/units/"*.service "$tmp/units/"*.timer 2>&1)"; then
  [ -z "$verify" ] || fail "systemd-analyze verify: $verify"
else
  fail "systemd-analyze verify: $verify"
fi

# The copyright file: machine-readable, the MIT (Expat) licence with its text. The
# changelog's newest entry: this version.
doc="$tmp/root/usr/share/doc/halcyon"
grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright" &&
  grep -q '^License: Expat' "$doc/copyright" && grep -q '^ Permission is hereby granted' "$doc/copyright" ||
  fail "copyright is not machine-readable with the MIT (Expat) licence"
[ "$(gzip -dc "$doc/changelog.gz" | dpkg-parsechangelog -l- -S Version)" = "$version" ] || fail "changelog.gz has no entry $version on top"
if command -v lintian >/dev/null; then
  # Errors fail; the warnings are shown.
  lintian --fail-on error --tag-display-limit 0 "$deb" >"$tmp/lintian" 2>&1 || lint_failed=1
  grep -v 'root privileges' "$tmp/lintian"
  [ -z "${lint_failed:-}" ] || fail "lintian reports errors (above)"
  # The manual page is what man shows of the command.
  ! grep -E 'manual-page|groff-message' "$tmp/lintian" || fail "lintian finds fault with the manual page (above)"
else
  echo "lintian not installed: the package goes unlinted"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; package listing:"
  cat "$tmp/list"
  exit 1
fi
echo "package $(basename "$deb") checked"

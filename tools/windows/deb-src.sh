# Sourced by toolchain.sh and libdeflate.sh, which fetch Debian source packages.
# ensure_deb_src: adds deb-src twins of the Debian entries in a file of its own, unless apt
# knows source packages already. Needs log and die from the script that sources it.
ensure_deb_src() {
  apt-cache showsrc zlib 2>/dev/null | grep '^Version:' >/dev/null && return 0
  local list=/etc/apt/sources.list.d/debian.sources sudo=""
  [ -f "$list" ] || die "no deb-src entries and no $list to derive them from"
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  log "adding deb-src entries: /etc/apt/sources.list.d/halcyon-deb-src.sources"
  awk 'BEGIN { RS = ""; ORS = "\n\n" }
       /(^|\n)Types:[ \t]*deb[ \t]*(\n|$)/ { sub(/Types:[ \t]*deb[ \t]*/, "Types: deb-src"); print }' \
    "$list" | $sudo tee /etc/apt/sources.list.d/halcyon-deb-src.sources >/dev/null
  $sudo apt-get update -qq
  apt-cache showsrc zlib 2>/dev/null | grep '^Version:' >/dev/null ||
    die "apt still knows no source packages"
}
